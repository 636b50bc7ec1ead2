#include "dialup/PppdService.h"

#include "platform/Artwork.h"
#include "platform/FileIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTemporaryFile>
#include <QUrl>

#include <csignal>
#include <sys/types.h>

namespace dialup {
namespace {

constexpr qint32 kAccessDenied = 5;
constexpr qint32 kDialTimedOut = 798;
const QString kMark = QStringLiteral("#pulsewatch ");

// An entry is a file name in the peers folder, nothing more.
bool validEntry(const QString& entry) {
    return !entry.isEmpty() && !entry.contains(QLatin1Char('/')) &&
           !entry.startsWith(QLatin1Char('.')) && !entry.contains(QLatin1Char('\n')) &&
           !entry.contains(QLatin1Char('\r')) && !entry.contains(QChar(0));
}

// A word in pppd's option syntax.
QString quoted(const QString& v) {
    QString q = v;
    q.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QStringList readLines(const QString& path, bool* ok) {
    QFile f(path);
    *ok = f.open(QIODevice::ReadOnly);
    if (!*ok)
        return {};
    return QString::fromUtf8(f.read(1024 * 1024)).split(QLatin1Char('\n'));
}

// The lines of an entry's file; false for a name that is no entry of the
// folder or a file that cannot be read.
bool readEntry(const QString& path, const QString& entry, QStringList* lines) {
    bool ok = false;
    if (validEntry(entry))
        *lines = readLines(path, &ok);
    return ok;
}

// The comment that marks an entry's line in the PAP secrets file.
QString secretTag(const QString& entry) {
    return QStringLiteral("# pulsewatch:") + entry;
}

bool writeLines(const QString& path, QStringList lines) {
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return platform::replaceFile(path,
                                 (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

// The "#pulsewatch KEY=VALUE" lines of an entry file.
QMap<QString, QString> marks(const QStringList& lines) {
    QMap<QString, QString> m;
    for (const QString& line : lines) {
        if (!line.startsWith(kMark))
            continue;
        const QString kv = line.mid(kMark.size());
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        if (eq > 0)
            m[kv.left(eq)] = QUrl::fromPercentEncoding(kv.mid(eq + 1).toLatin1());
    }
    return m;
}

// Replaces the mark lines whose key starts with prefix by values.
QStringList withMarks(QStringList lines, const QString& prefix,
                      const QList<std::pair<QString, QString>>& values) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const QString& l) { return l.startsWith(kMark + prefix); }),
                lines.end());
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (const auto& [k, v] : values)
        lines << kMark + prefix + k + QLatin1Char('=') +
                     QString::fromLatin1(QUrl::toPercentEncoding(v));
    return lines;
}

// The peers file's connect line with the number after chat's -T replaced.
QString connectWithPhone(const QStringList& lines, const QString& phone) {
    static const QRegularExpression connect(QStringLiteral("^\\s*connect\\s+\"(.*)\"\\s*$"));
    for (const QString& line : lines) {
        const auto m = connect.match(line);
        if (!m.hasMatch())
            continue;
        QString command = m.captured(1);
        static const QRegularExpression t(QStringLiteral("(\\s-T\\s+)(\\S+)"));
        if (command.contains(t))
            command.replace(t, QStringLiteral("\\1") + phone);
        else
            command += QStringLiteral(" -T ") + phone;
        return QStringLiteral("connect ") + quoted(command);
    }
    return QString();
}

QString octets(const std::array<quint8, 4>& a) {
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

std::array<quint8, 4> parseOctets(const QString& s) {
    std::array<quint8, 4> a{};
    const QStringList parts = s.split(QLatin1Char('.'));
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        a[i] = static_cast<quint8>(std::clamp(parts[i].toInt(), 0, 255));
    return a;
}

} // namespace

PppdService::PppdService() = default;
PppdService::PppdService(Paths paths) : m_paths(std::move(paths)) {}

QString PppdService::linkName(const QString& entry) {
    return QStringLiteral("pw-") + entry;
}

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

qint32 PppdService::dial(const QString& phoneBook, const DialParams& params, qint32* handle) {
    *handle = 0;
    const QString path = entryPath(phoneBook, params.entry);
    QStringList lines;
    if (!readEntry(path, params.entry, &lines))
        return kEntryNotFound;

    // The credentials go in a file of the caller's own (mode 0600): a
    // command line is readable by every user of the machine.
    QTemporaryFile options(QDir::temp().filePath(QStringLiteral("pulsewatch-dial-XXXXXX")));
    if (!options.open())
        return kAccessDenied;
    QStringList opts;
    if (!params.user.isEmpty())
        opts << QStringLiteral("user ") + quoted(params.user);
    if (!params.password.isEmpty())
        opts << QStringLiteral("password ") + quoted(params.password);
    if (!params.phone.isEmpty()) {
        const QString connect = connectWithPhone(lines, params.phone);
        if (!connect.isEmpty())
            opts << connect;
    }
    options.write((opts.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    options.flush();

    QStringList args;
    if (QFileInfo(path).absolutePath() == QFileInfo(m_paths.peersDir).absoluteFilePath())
        args << QStringLiteral("call") << params.entry;
    else
        args << QStringLiteral("file") << path;
    args << QStringLiteral("file") << options.fileName() << QStringLiteral("updetach")
         << QStringLiteral("linkname") << linkName(params.entry);

    QProcess pppd;
    pppd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    pppd.setStandardOutputFile(QProcess::nullDevice());
    pppd.start(m_paths.pppd, args);
    if (!pppd.waitForStarted(10000))
        return kCannotStartPppd;
    // updetach: pppd returns once the link is up or has failed.
    if (!pppd.waitForFinished(m_dialLimitMs)) {
        pppd.kill();
        pppd.waitForFinished(2000);
        *handle = handleFor(params.entry); // a daemon it left behind is hung up
        return kDialTimedOut;
    }
    if (pppd.exitStatus() != QProcess::NormalExit)
        return kPppdExitBase + 1;
    if (pppd.exitCode() != 0)
        return kPppdExitBase + pppd.exitCode();
    *handle = handleFor(params.entry);
    return 0;
}

qint32 PppdService::handleFor(const QString& entry) {
    for (auto it = m_links.cbegin(); it != m_links.cend(); ++it)
        if (it.value() == entry)
            return it.key();
    const qint32 h = m_nextHandle++;
    m_links[h] = entry;
    return h;
}

qint64 PppdService::linkPid(const QString& entry) const {
    QFile f(QDir(m_paths.runDir).filePath(QStringLiteral("ppp-%1.pid").arg(linkName(entry))));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pid = f.readLine().trimmed().toLongLong();
    if (pid <= 1)
        return 0;
    // A pid file left by a pppd that is gone (or has ended and waits to be
    // reaped) names no link.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = stat.read(512);
    const qsizetype close = s.lastIndexOf(')');
    return close > 0 && s.mid(close + 2, 1) != "Z" ? pid : 0;
}

qint32 PppdService::hangUp(qint32 handle) {
    if (!m_links.contains(handle))
        return kInvalidHandle;
    const QString entry = m_links.take(handle);
    const qint64 pid = linkPid(entry);
    if (pid == 0)
        return kNoConnection;
    // pppd ends the link on SIGTERM; the line drops after this returns.
    return ::kill(static_cast<pid_t>(pid), SIGTERM) == 0 ? 0 : kAccessDenied;
}

qint32 PppdService::enumConnections(QList<ActiveConnection>* connections) {
    connections->clear();
    const QString prefix = QStringLiteral("ppp-") + linkName(QString());
    const QDir run(m_paths.runDir);
    for (const QString& file :
         run.entryList({prefix + QStringLiteral("*.pid")}, QDir::Files, QDir::Name)) {
        const QString entry = file.mid(prefix.size(), file.size() - prefix.size() - 4);
        if (linkPid(entry) != 0)
            *connections << ActiveConnection{handleFor(entry), entry};
    }
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
    QStringList lines;
    if (!readEntry(entryPath(QString(), params->entry), params->entry, &lines))
        return kEntryNotFound;
    const auto m = marks(lines);
    params->phone = m.value(QStringLiteral("dial.phone"));
    params->callback = m.value(QStringLiteral("dial.callback"));
    params->user = m.value(QStringLiteral("dial.user"));
    params->domain = m.value(QStringLiteral("dial.domain"));
    params->password.clear();
    bool secretsOk = false;
    const QString tag = secretTag(params->entry);
    static const QRegularExpression secret(QStringLiteral("^\"(.*)\"\\s+\\*\\s+\"(.*)\"\\s+#"));
    for (const QString& line : readLines(m_paths.secretsFile, &secretsOk)) {
        if (!line.endsWith(tag))
            continue;
        const auto match = secret.match(line);
        if (match.hasMatch())
            params->password = match.captured(2)
                                   .replace(QStringLiteral("\\\""), QStringLiteral("\""))
                                   .replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    }
    return 0;
}

qint32 PppdService::setEntryDialParams(const DialParams& params) {
    const QString path = entryPath(QString(), params.entry);
    QStringList lines;
    if (!readEntry(path, params.entry, &lines))
        return kEntryNotFound;
    lines = withMarks(lines, QStringLiteral("dial."),
                      {{QStringLiteral("phone"), params.phone},
                       {QStringLiteral("callback"), params.callback},
                       {QStringLiteral("user"), params.user},
                       {QStringLiteral("domain"), params.domain}});
    if (!writeLines(path, lines))
        return kAccessDenied;
    // The password lives with pppd's own secrets (mode 0600), never in the
    // entry file that every user may read.
    bool secretsOk = false;
    QStringList secrets = readLines(m_paths.secretsFile, &secretsOk);
    const QString tag = secretTag(params.entry);
    secrets.erase(std::remove_if(secrets.begin(), secrets.end(),
                                 [&](const QString& l) { return l.endsWith(tag); }),
                  secrets.end());
    if (!params.user.isEmpty() && !params.password.isEmpty())
        secrets << quoted(params.user) + QStringLiteral(" * ") + quoted(params.password) +
                       QLatin1Char(' ') + tag;
    return writeLines(m_paths.secretsFile, secrets) ? 0 : kAccessDenied;
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
    QStringList lines;
    if (!readEntry(entryPath(QString(), entry), entry, &lines))
        return kEntryNotFound;
    const auto m = marks(lines);
    auto num = [&](const char* k) { return m.value(QLatin1String(k)).toInt(); };
    auto text = [&](const char* k) { return m.value(QLatin1String(k)); };
    EntryRecord r;
    r.size = 1768;
    r.options = num("entry.options");
    r.countryId = num("entry.countryId");
    r.countryCode = num("entry.countryCode");
    r.areaCode = text("entry.areaCode");
    r.localPhone = text("entry.localPhone");
    const char* ipKeys[] = {"entry.ip", "entry.dns", "entry.dnsAlt", "entry.wins", "entry.winsAlt"};
    for (int i = 0; i < 5; ++i)
        r.ip[i] = parseOctets(text(ipKeys[i]));
    r.netProtocols = num("entry.netProtocols");
    r.framingProtocol = m.contains(QStringLiteral("entry.framing")) ? num("entry.framing") : 1;
    r.deviceType = text("entry.deviceType");
    r.deviceName = text("entry.deviceName");
    // The device pppd itself would use: the first line naming one.
    if (r.deviceName.isEmpty())
        for (const QString& line : lines)
            if (line.trimmed().startsWith(QStringLiteral("/dev/"))) {
                r.deviceName = line.trimmed().section(QLatin1Char(' '), 0, 0);
                r.deviceType = QStringLiteral("modem");
                break;
            }
    *record = r;
    return 0;
}

qint32 PppdService::setEntryProperties(const QString& entry, const EntryRecord& r) {
    if (r.size == 0)
        return kInvalidSize;
    const QString path = entryPath(QString(), entry);
    QStringList lines;
    if (!readEntry(path, entry, &lines))
        return kEntryNotFound;
    lines = withMarks(lines, QStringLiteral("entry."),
                      {{QStringLiteral("options"), QString::number(r.options)},
                       {QStringLiteral("countryId"), QString::number(r.countryId)},
                       {QStringLiteral("countryCode"), QString::number(r.countryCode)},
                       {QStringLiteral("areaCode"), r.areaCode},
                       {QStringLiteral("localPhone"), r.localPhone},
                       {QStringLiteral("ip"), octets(r.ip[0])},
                       {QStringLiteral("dns"), octets(r.ip[1])},
                       {QStringLiteral("dnsAlt"), octets(r.ip[2])},
                       {QStringLiteral("wins"), octets(r.ip[3])},
                       {QStringLiteral("winsAlt"), octets(r.ip[4])},
                       {QStringLiteral("netProtocols"), QString::number(r.netProtocols)},
                       {QStringLiteral("framing"), QString::number(r.framingProtocol)},
                       {QStringLiteral("deviceType"), r.deviceType},
                       {QStringLiteral("deviceName"), r.deviceName}});
    return writeLines(path, lines) ? 0 : kAccessDenied;
}

qint32 PppdService::deleteEntry(const QString& entry) {
    if (!validEntry(entry))
        return kEntryNotFound;
    const QString path = entryPath(QString(), entry);
    if (!QFileInfo(path).isFile())
        return kEntryNotFound;
    return QFile::remove(path) ? 0 : kAccessDenied;
}

} // namespace dialup
