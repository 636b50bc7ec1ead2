#include "dialup/PppdService.h"

#include "dialup/OptionFile.h"
#include "dialup/PppdChild.h"
#include "platform/Artwork.h"
#include "platform/FileIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QUrl>

#include <cctype>
#include <optional>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace dialup {
namespace {

const QByteArray kMark = "#pulsewatch ";

// An entry is a file name in the peers folder, nothing more.
bool validEntry(const QString& entry) {
    return !entry.isEmpty() && !entry.contains(QLatin1Char('/')) &&
           !entry.startsWith(QLatin1Char('.')) && !entry.contains(QLatin1Char('\n')) &&
           !entry.contains(QLatin1Char('\r')) && !entry.contains(QChar(0));
}

bool loadEntry(OptionFile* file, const QString& path, const QString& entry) {
    return validEntry(entry) && file->load(path);
}

// The options of pppd that take an argument, so that an argument is never
// taken for an option of its own.
bool takesArgument(const QByteArray& option) {
    static const QList<QByteArray> kWithArgument =
        QByteArray("connect disconnect init welcome pty socket call file user password "
                   "remotename name ipparam linkname ifname domain plugin privgroup logfile "
                   "logfd record mru mtu holdoff maxfail idle unit connect-delay asyncmap escape "
                   "set unset ms-dns ms-wins lcp-echo-interval lcp-echo-failure "
                   "defaultroute-metric maxconnect bundle")
            .split(' ');
    return kWithArgument.contains(option);
}

// What an entry's file gives pppd: the option words (arguments left out)
// and the words of its device and its connect command.
struct EntryOptions {
    QList<OptionWord> words;
    QList<qsizetype> options;
    std::optional<OptionWord> device, connect;
};

EntryOptions entryOptions(const QList<QByteArray>& lines) {
    EntryOptions e;
    e.words = optionWords(lines);
    for (qsizetype i = 0; i < e.words.size(); ++i) {
        const OptionWord& w = e.words[i];
        e.options << i;
        if (w.text.startsWith("/dev/"))
            e.device = w;
        if (!takesArgument(w.text) || i + 1 == e.words.size())
            continue;
        if (w.text == "connect" && e.words[i + 1].line == w.line)
            e.connect = e.words[i + 1];
        ++i;
    }
    return e;
}

// chat's number: the word after -T in the connect command.
std::optional<ShellWord> chatNumber(const QByteArray& command) {
    const QList<ShellWord> words = shellWords(command);
    for (qsizetype i = 0; i + 1 < words.size(); ++i)
        if (words[i].text == "-T")
            return words[i + 1];
    return std::nullopt;
}

QByteArray withNumber(const QByteArray& command, const ShellWord& number, const QString& phone) {
    return command.left(number.begin) + shellQuoted(phone.toUtf8()) + command.mid(number.end);
}

void replaceWord(QList<QByteArray>& lines, const OptionWord& w, const QByteArray& text) {
    QByteArray& line = lines[w.line];
    line = line.left(w.begin) + text + line.mid(w.end);
}

// Option bits of an entry that are a word of pppd: present sets the bit, or
// clears it where pppd does the thing unless told not to.
struct FlagWord {
    qint32 bit;
    const char* word;
    bool presentSets;
};
constexpr FlagWord kFlagWords[] = {
    {16, "defaultroute", true}, // RemoteDefaultGateway
    {8, "novj", false},         // IpHeaderCompression
    {0x200, "noccp", false},    // SwCompression
};
constexpr qint32 kFlagBits = 16 | 8 | 0x200;
constexpr qint32 kIpProtocol = 4;

EntryRecord propertiesOf(const QList<QByteArray>& lines) {
    const EntryOptions e = entryOptions(lines);
    EntryRecord r;
    r.size = 1768;
    r.netProtocols = kIpProtocol; // PPP here carries IP only
    r.framingProtocol = 1;
    for (const FlagWord& f : kFlagWords)
        if (!f.presentSets)
            r.options |= f.bit;
    for (const qsizetype i : e.options)
        for (const FlagWord& f : kFlagWords)
            if (e.words[i].text == f.word)
                r.options = f.presentSets ? (r.options | f.bit) : (r.options & ~f.bit);
    if (e.device) {
        r.deviceName = QString::fromUtf8(e.device->text);
        r.deviceType = QStringLiteral("modem");
    }
    if (e.connect)
        if (const auto number = chatNumber(e.connect->text))
            r.localPhone = QString::fromUtf8(number->text);
    return r;
}

// Sets or clears the option word of a flag in an entry's file; a line left
// blank by the removal goes with it.
void setFlagWord(OptionFile& file, const char* word, bool present) {
    if (present) {
        file.append(QByteArray(word));
        return;
    }
    const EntryOptions e = entryOptions(file.lines);
    QList<qsizetype> touched;
    for (qsizetype k = e.options.size() - 1; k >= 0; --k) {
        const OptionWord& w = e.words[e.options[k]];
        if (w.text == word) {
            replaceWord(file.lines, w, QByteArray());
            if (touched.isEmpty() || touched.last() != w.line)
                touched << w.line;
        }
    }
    for (const qsizetype l : touched) // descending, so indices stay valid
        if (file.lines[l].trimmed().isEmpty())
            file.lines.removeAt(l);
}

// The "#pulsewatch KEY=VALUE" lines of an entry file.
QMap<QString, QString> marks(const QList<QByteArray>& lines) {
    QMap<QString, QString> m;
    for (const QByteArray& line : lines) {
        if (!line.startsWith(kMark))
            continue;
        const QByteArray kv = line.mid(kMark.size()).trimmed();
        const qsizetype eq = kv.indexOf('=');
        if (eq > 0)
            m[QString::fromLatin1(kv.left(eq))] = QUrl::fromPercentEncoding(kv.mid(eq + 1));
    }
    return m;
}

// The comment that marks an entry's line in the PAP secrets file; encoded,
// so that no entry's tag ends with another's.
QByteArray secretTag(const QString& entry) {
    return "# pulsewatch:" + QUrl::toPercentEncoding(entry);
}

bool isSecretOf(const QByteArray& line, const QByteArray& tag) {
    const QByteArray t = line.trimmed();
    return t.endsWith(tag) && t.size() > tag.size() &&
           QByteArray(" \t").contains(t[t.size() - tag.size() - 1]);
}

// Removes the entry's lines from the secrets; whether there were any.
bool removeSecrets(OptionFile& secrets, const QString& entry) {
    const QByteArray tag = secretTag(entry);
    return secrets.lines.removeIf([&](const QByteArray& l) { return isSecretOf(l, tag); }) > 0;
}

// A word of an options file, without quotes where none are needed.
QByteArray plainWord(const QString& value) {
    const QByteArray v = value.toUtf8();
    for (const char c : v)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || QByteArray("/._-+:").contains(c)))
            return optionWord(v);
    return v;
}

} // namespace

PppdService::PppdService() : PppdService(Paths{}) {}
PppdService::PppdService(Paths paths) : m_paths(std::move(paths)), m_privileged(::getuid() == 0) {}

QString PppdService::entryPath(const QString& phoneBook, const QString& entry) const {
    const QString dir = phoneBook.isEmpty() ? m_paths.peersDir : phoneBook;
    return QDir(dir).filePath(entry);
}

qint32 PppdService::enumEntries(const QString& phoneBook, QStringList* names) {
    names->clear();
    const QDir dir(phoneBook.isEmpty() ? m_paths.peersDir : phoneBook);
    if (!dir.exists())
        return kCannotLoadPhonebook;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Readable, QDir::Name)) {
        // Editor and package leftovers are not entries.
        if (!validEntry(name) || name.endsWith(QLatin1Char('~')) ||
            name.contains(QStringLiteral(".dpkg-")) || name.endsWith(QStringLiteral(".bak")))
            continue;
        *names << name;
    }
    return 0;
}

qint32 PppdService::connectWithPhone(const QList<QByteArray>& lines, const QString& phone,
                                     QByteArray* option) const {
    const EntryOptions e = entryOptions(lines);
    const auto number = e.connect ? chatNumber(e.connect->text) : std::nullopt;
    if (!number)
        return kPhoneNotChangeable;
    if (number->text == phone.toUtf8())
        return 0;
    // pppd refuses a connect command from anyone but root once the entry's
    // file has set one; for root, the number reaches chat as one quoted word
    // that /bin/sh passes on untouched.
    if (!m_privileged)
        return kPhoneNotChangeable;
    *option = "connect " + optionWord(withNumber(e.connect->text, *number, phone));
    return 0;
}

qint32 PppdService::dial(const QString& phoneBook, const DialParams& params, qint32* handle) {
    *handle = 0;
    const QString path = entryPath(phoneBook, params.entry);
    OptionFile entry;
    if (!loadEntry(&entry, path, params.entry))
        return kEntryNotFound;

    QByteArray options;
    if (!params.user.isEmpty())
        options += "user " + optionWord(params.user.toUtf8()) + '\n';
    if (!params.password.isEmpty())
        options += "password " + optionWord(params.password.toUtf8()) + '\n';
    if (!params.phone.isEmpty()) {
        QByteArray connect;
        if (const qint32 rc = connectWithPhone(entry.lines, params.phone, &connect))
            return rc;
        if (!connect.isEmpty())
            options += connect + '\n';
    }

    // The credentials reach pppd through a pipe it reads as /dev/fd/N: not
    // on the command line, which every user can read, and not in a file that
    // a crash would leave behind. They fit the pipe's buffer, so it is
    // filled before pppd starts.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return kAccessDenied;
    const int readEnd = pipeFds[0];
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    const bool written = platform::writeAll(pipeFds[1], options);
    ::close(pipeFds[1]);
    if (!written) {
        ::close(readEnd);
        return kAccessDenied;
    }

    QStringList args;
    if (QFileInfo(path).absolutePath() == QFileInfo(m_paths.peersDir).absoluteFilePath())
        args << QStringLiteral("call") << params.entry;
    else
        args << QStringLiteral("file") << path;
    args << QStringLiteral("file") << QStringLiteral("/dev/fd/%1").arg(readEnd)
         << QStringLiteral("updetach");

    PppdChild pppd;
    const bool started = pppd.start(m_paths.pppd, args, readEnd);
    ::close(readEnd);
    if (!started)
        return kCannotStartPppd;
    const quint64 startedAt = pppdAt(pppd.pid()).started;

    static const platform::Ending never;
    const platform::Ending& ending = m_ending ? *m_ending : never;
    const auto finished = [&pppd] { return pppd.finished(); };
    platform::WaitResult r = platform::waitFor(ending, QDeadlineTimer(m_dialLimitMs), finished);
    qint32 rc = 0;
    if (r == platform::WaitResult::TimedOut) {
        // SIGTERM first: pppd then hangs the modem up and removes its lock.
        pppd.signal(SIGTERM);
        r = platform::waitFor(ending, QDeadlineTimer(5000), finished);
        if (r == platform::WaitResult::TimedOut) {
            pppd.signal(SIGKILL);
            r = platform::waitFor(ending, QDeadlineTimer(2000), finished);
        }
        rc = kDialTimedOut;
    }
    if (r == platform::WaitResult::Ended) {
        // Nobody waits for this link any more; pppd ends it on its own
        // (and is reaped later), so the program can end at once.
        pppd.signal(SIGTERM);
        return kDialAbandoned;
    }
    if (!pppd.exitedNormally())
        return rc ? rc : kPppdExitBase + 1;
    if (pppd.exitCode() != 0)
        return rc ? rc : kPppdExitBase + pppd.exitCode();
    // updetach: pppd left the link to a daemon of its own. Also after a
    // time-out, when the link came up just then, so that it is hung up.
    PppdLink link = linkOf(pppd.output(), pppd.pid(), startedAt, params.entry);
    link.entry = params.entry;
    *handle = handleFor(link);
    return rc;
}

// pppd names the link's interface in its log ("Using interface ppp0"),
// which goes to stdout until it detaches unless the entry sends it
// elsewhere, and writes the pid of the link's pppd to the interface's pid
// file; its parent, this dial's child, updates it to the daemon before it
// exits. That pppd must dial this entry and have started with this dial.
// Without that, no pid: the hang-up then signals nothing rather than
// another's link.
PppdLink PppdService::linkOf(const QByteArray& log, qint64 childPid, quint64 childStarted,
                             const QString& entry) const {
    static const QRegularExpression kInterface(QStringLiteral("^Using interface (\\S+)$"),
                                               QRegularExpression::MultilineOption);
    QString ifname;
    for (auto it = kInterface.globalMatch(QString::fromLocal8Bit(log)); it.hasNext();)
        ifname = it.next().captured(1);
    if (ifname.isEmpty() || ifname.contains(QLatin1Char('/')))
        return {};
    QFile pidFile(QDir(m_paths.runDir).filePath(ifname + QStringLiteral(".pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const qint64 pid = pidFile.readLine(32).trimmed().toLongLong();
    if (pid <= 0 || pid == childPid)
        return {};
    const PppdLink link = pppdAt(pid);
    if (link.pid == 0 || link.entry != entry || link.started < childStarted)
        return {};
    return link;
}

qint32 PppdService::handleFor(const PppdLink& link) {
    for (auto it = m_links.cbegin(); it != m_links.cend(); ++it)
        if (link.pid != 0 && it->pid == link.pid && it->started == link.started)
            return it.key();
    const qint32 h = m_nextHandle++;
    m_links[h] = link;
    return h;
}

qint32 PppdService::hangUp(qint32 handle) {
    if (!m_links.contains(handle))
        return kInvalidHandle;
    const PppdLink link = m_links.take(handle);
    if (link.pid == 0)
        return kNoConnection;
    // pppd ends the link on SIGTERM; the line drops after this returns.
    switch (signalPppd(link, SIGTERM)) {
    case 0:
        return 0;
    case ESRCH:
        return kNoConnection;
    default:
        return kAccessDenied;
    }
}

qint32 PppdService::enumConnections(QList<ActiveConnection>* connections) {
    connections->clear();
    for (const PppdLink& link : runningPppd())
        *connections << ActiveConnection{handleFor(link), link.entry};
    return 0;
}

QString PppdService::errorString(qint32 code) {
    switch (code) {
    case 0:
        return QStringLiteral("正常に終了しました。");
    case kAccessDenied:
        return QStringLiteral("アクセスが拒否されました。");
    case kInvalidHandle:
        return QStringLiteral("接続のハンドルが正しくありません。");
    case kNotSupported:
        return QStringLiteral("pppd にこの設定のオプションがないため、変更できません。");
    case kBufferTooSmall:
        return QStringLiteral("バッファーが小さすぎます。");
    case kCannotLoadPhonebook:
        return QStringLiteral("電話帳 (ピアのフォルダー) を開けません。");
    case kEntryNotFound:
        return QStringLiteral("電話帳にこのエントリが見つかりません。");
    case kInvalidSize:
        return QStringLiteral("エントリの情報のサイズが正しくありません。");
    case kCountryNotFound:
        return QStringLiteral("国・地域の情報が見つかりません。");
    case kNoConnection:
        return QStringLiteral("接続はすでに切断されています。");
    case kPhoneNotChangeable:
        return QStringLiteral("このエントリの電話番号を変更できるのは、エントリの管理者 (root) "
                              "だけです。/etc/ppp/peers のファイルで設定してもらってください。");
    case kDialAbandoned:
        return QStringLiteral("プログラムの終了のため、ダイアルアップを中止しました。");
    case kDialTimedOut:
        return QStringLiteral("ダイアルアップ接続が時間内に完了しませんでした。");
    case kCannotStartPppd:
        return QStringLiteral("pppd を起動できません。インストールされているか確認してください。");
    }
    static const char* const kPppd[] = {
        nullptr,
        "pppd で致命的なエラーが発生しました。",
        "pppd のオプションに誤りがあります。",
        "pppd に root 権限がありません。",
        "このカーネルは PPP に対応していません (/dev/ppp がありません)。",
        "pppd がシグナルで終了しました。",
        "シリアルポートをロックできません。",
        "シリアルポートを開けません。",
        "接続スクリプト (chat) が失敗しました。モデムと電話番号を確認してください。",
        "pty のコマンドを実行できません。",
        "PPP のネゴシエーションに失敗しました。",
        "相手側の認証に失敗しました。",
        "アイドル時間の上限で切断されました。",
        "接続時間の上限で切断されました。",
        "コールバックが要求されました。",
        "相手側が応答しません。",
        "モデムが回線を切断しました。",
        "ループバックを検出しました。",
        "初期化スクリプトが失敗しました。",
        "認証に失敗しました。ユーザー名とパスワードを確認してください。",
    };
    const qint32 n = code - kPppdExitBase;
    if (n >= 1 && n < static_cast<qint32>(std::size(kPppd)))
        return QString::fromUtf8(kPppd[n]);
    return QStringLiteral("ダイアルアップのエラー %1 です。").arg(code);
}

qint32 PppdService::getEntryDialParams(DialParams* params) {
    OptionFile entry;
    if (!loadEntry(&entry, entryPath(QString(), params->entry), params->entry))
        return kEntryNotFound;
    const auto m = marks(entry.lines);
    params->phone = m.value(QStringLiteral("dial.phone"));
    params->callback = m.value(QStringLiteral("dial.callback"));
    params->user = m.value(QStringLiteral("dial.user"));
    params->domain = m.value(QStringLiteral("dial.domain"));
    params->password.clear();
    // Only root can read Debian's secrets file; another user gets no password.
    OptionFile secrets;
    secrets.load(m_paths.secretsFile);
    const QByteArray tag = secretTag(params->entry);
    for (const QByteArray& line : secrets.lines) {
        const QList<OptionWord> words = optionWords({line});
        if (isSecretOf(line, tag) && words.size() >= 3)
            params->password = QString::fromUtf8(words[2].text);
    }
    return 0;
}

qint32 PppdService::setEntryDialParams(const DialParams& params) {
    const QString path = entryPath(QString(), params.entry);
    OptionFile entry;
    if (!loadEntry(&entry, path, params.entry))
        return kEntryNotFound;
    const QByteArray prefix = kMark + "dial.";
    entry.lines.removeIf([&](const QByteArray& l) { return l.startsWith(prefix); });
    const std::pair<const char*, QString> values[] = {{"phone", params.phone},
                                                      {"callback", params.callback},
                                                      {"user", params.user},
                                                      {"domain", params.domain}};
    for (const auto& [key, value] : values)
        entry.append(prefix + key + '=' + QUrl::toPercentEncoding(value));
    if (!entry.save())
        return kAccessDenied;

    // The password lives with pppd's own secrets (mode 0600), never in the
    // entry file that every dip user may read.
    OptionFile secrets;
    if (!secrets.load(m_paths.secretsFile) && QFileInfo::exists(m_paths.secretsFile))
        return kAccessDenied;
    bool changed = removeSecrets(secrets, params.entry);
    if (!params.user.isEmpty() && !params.password.isEmpty()) {
        secrets.append(optionWord(params.user.toUtf8()) + " * " +
                       optionWord(params.password.toUtf8()) + ' ' + secretTag(params.entry));
        changed = true;
    }
    return !changed || secrets.save() ? 0 : kAccessDenied;
}

qint32 PppdService::getCountryInfo(qint32 id, CountryRecord* country) {
    platform::ensureResources();
    QFile f(QStringLiteral(":/pulsewatch/countries.tsv"));
    if (!f.open(QIODevice::ReadOnly))
        return kCountryNotFound;
    QList<CountryRecord> table;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QStringList cols = line.split(QLatin1Char('\t'));
        if (line.startsWith(QLatin1Char('#')) || cols.size() != 3)
            continue;
        table << CountryRecord{cols[0].toInt(), 0, cols[1].toInt(), cols[2]};
    }
    for (qsizetype i = 0; i < table.size(); ++i) {
        if (table[i].id != id)
            continue;
        *country = table[i];
        country->nextId = i + 1 < table.size() ? table[i + 1].id : 0;
        return 0;
    }
    return kCountryNotFound;
}

qint32 PppdService::enumDevices(QList<DeviceRecord>* devices) {
    devices->clear();
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        *devices << DeviceRecord{QStringLiteral("modem"), port.systemLocation()};
    return 0;
}

qint32 PppdService::getEntryProperties(const QString& entry, EntryRecord* record) {
    OptionFile file;
    if (!loadEntry(&file, entryPath(QString(), entry), entry))
        return kEntryNotFound;
    *record = propertiesOf(file.lines);
    return 0;
}

qint32 PppdService::setEntryProperties(const QString& entry, const EntryRecord& r) {
    if (r.size == 0)
        return kInvalidSize;
    OptionFile file;
    if (!loadEntry(&file, entryPath(QString(), entry), entry))
        return kEntryNotFound;
    const EntryRecord now = propertiesOf(file.lines);
    // A value pppd has no option for is refused, never kept where pppd does
    // not read it; nothing is written then.
    if (r.countryId != now.countryId || r.countryCode != now.countryCode ||
        r.areaCode != now.areaCode || r.ip != now.ip || r.netProtocols != now.netProtocols ||
        r.framingProtocol != now.framingProtocol ||
        (r.options & ~kFlagBits) != (now.options & ~kFlagBits) ||
        (r.deviceType != now.deviceType && r.deviceType != QLatin1String("modem")))
        return kNotSupported;

    QList<QByteArray>& lines = file.lines;
    if (r.localPhone != now.localPhone) {
        const EntryOptions e = entryOptions(lines);
        const auto number = e.connect ? chatNumber(e.connect->text) : std::nullopt;
        if (!number || r.localPhone.isEmpty())
            return kNotSupported;
        replaceWord(lines, *e.connect,
                    optionWord(withNumber(e.connect->text, *number, r.localPhone)));
    }
    if (r.deviceName != now.deviceName) {
        if (!r.deviceName.startsWith(QStringLiteral("/dev/")))
            return kNotSupported; // without one pppd would take its own terminal
        const EntryOptions e = entryOptions(lines);
        if (e.device)
            replaceWord(lines, *e.device, plainWord(r.deviceName));
        else
            file.append(plainWord(r.deviceName));
    }
    for (const FlagWord& f : kFlagWords)
        if ((r.options & f.bit) != (now.options & f.bit))
            setFlagWord(file, f.word, ((r.options & f.bit) != 0) == f.presentSets);
    return file.save() ? 0 : kAccessDenied;
}

qint32 PppdService::deleteEntry(const QString& entry) {
    if (!validEntry(entry))
        return kEntryNotFound;
    const QString path = entryPath(QString(), entry);
    if (!QFileInfo(path).isFile())
        return kEntryNotFound;
    // Its saved password goes with it, and first: an entry left without its
    // password can be deleted again, a password without its entry is lost.
    OptionFile secrets;
    if (secrets.load(m_paths.secretsFile) && removeSecrets(secrets, entry) && !secrets.save())
        return kAccessDenied;
    return QFile::remove(path) ? 0 : kAccessDenied;
}

} // namespace dialup
