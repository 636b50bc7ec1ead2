#include "tools/frmPing.h"

#include "platform/AnsiText.h"
#include "platform/Artwork.h"
#include "platform/DialogKeys.h"
#include "platform/FileIo.h"
#include "probe/C_PING.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>
#include <optional>

namespace {

QLineEdit* box(QWidget* parent, const char* name, const QString& text) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

// A box's number rounded half to even, as the desktop converts; nullopt for
// text that is no number or does not fit the range.
std::optional<qint64> whole(const QLineEdit* e, qint64 min, qint64 max) {
    bool ok = false;
    const double v = e->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    const double r = std::nearbyint(v);
    if (r < static_cast<double>(min) || r > static_cast<double>(max))
        return std::nullopt;
    return static_cast<qint64>(r);
}

} // namespace

frmPing::frmPing(AppState& state, platform::WindowSystem& ui, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui) {
    setObjectName(QStringLiteral("frmPing"));
    setWindowTitle(QStringLiteral("PING"));
    platform::setTitleBoxes(*this, platform::TitleBoxes::CloseOnly);
    setFont(platform::minchoFont());

    auto* report = new QGroupBox(QStringLiteral("PING REPORT"), this);
    report->setObjectName(QStringLiteral("Frame2"));
    List1 = new QListWidget(report);
    List1->setObjectName(QStringLiteral("List1"));
    (new QVBoxLayout(report))->addWidget(List1);

    auto* config = new QGroupBox(QStringLiteral("PING CONFIG"), this);
    config->setObjectName(QStringLiteral("Frame1"));
    Text1 = new QComboBox(config);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setEditable(true);
    Text1->setMinimumWidth(220);
    Text2 = box(config, "Text2", QString());
    Text2->setReadOnly(true);
    txtTimeOut = box(config, "txtTimeOut", QStringLiteral("5"));
    txtPacket = box(config, "txtPacket", QStringLiteral("5"));
    txtChrPkt = box(config, "txtChrPkt", QStringLiteral("32"));
    txtTTL = box(config, "txtTTL", QStringLiteral("255"));
    auto* form = new QFormLayout(config);
    form->addRow(QStringLiteral("コンピューター名"), Text1);
    form->addRow(QStringLiteral("IP ADDRESS"), Text2);
    form->addRow(QStringLiteral("TimeOut (ミリ秒)"), txtTimeOut);
    form->addRow(QStringLiteral("Packets"), txtPacket);
    form->addRow(QStringLiteral("Chars/Pkt"), txtChrPkt);
    form->addRow(QStringLiteral("TTL"), txtTTL);
    auto* start = new QPushButton(QStringLiteral("Start"), config);
    start->setObjectName(QStringLiteral("Command1"));
    start->setAutoDefault(false);
    form->addRow(QString(), start);
    connect(start, &QPushButton::clicked, this, &frmPing::Command1_Click);
    platform::operatorKeys(*this, platform::Escape::Closes);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(report, 1);
    layout->addWidget(config);
    resize(900, 340);

    m_state.WindowOpen = 1;
    GetText(Text1);
}

QStringList frmPing::pingListFields(const QByteArray& content) {
    const QString text = platform::decodeTextFile(content);
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && (text[i] == u' ' || text[i] == u'\t'))
            ++i;
        QString field;
        bool quoted = false;
        if (i < n && text[i] == u'"') {
            quoted = true;
            const qsizetype close = text.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? n : close;
            field = text.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            while (i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n')
                ++i; // anything after the closing quote up to the separator
        } else {
            const qsizetype start = i;
            while (i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n')
                ++i;
            field = text.mid(start, i - start).trimmed();
        }
        if (quoted || !field.isEmpty())
            fields << field;
        if (i < n && text[i] == u'\r')
            ++i;
        if (i < n && (text[i] == u',' || text[i] == u'\n'))
            ++i;
    }
    return fields;
}

void frmPing::GetText(QComboBox* obj1) {
    // Read without blocking: a FIFO in its place would hold the window.
    QByteArray content;
    if (platform::readRegularFile(m_state.AppFolder + QStringLiteral("PING.txt"), 1024 * 1024,
                                  &content) != platform::FileKind::Regular)
        return; // no list: nothing to offer, nothing to say
    obj1->addItems(pingListFields(content));
    obj1->setCurrentIndex(-1);
    obj1->setEditText(QString());
}

void frmPing::cPING_Ping(qint32 lngCode, const QString& strCode, const QString& strHostName,
                         const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT,
                         qint32 lngTTL) {
    QString line;
    if (lngCode == -1)
        line = strCode;
    else if (lngCode == 0)
        line = QStringLiteral("Reply from %1:%2: Bytes = %3 RTT = %4 ms TTL = %5")
                   .arg(strIPAddress, strHostName)
                   .arg(lngBytes)
                   .arg(lngRTT)
                   .arg(lngTTL);
    else
        line = QStringLiteral("Reply from %1: %2: %3").arg(strIPAddress, strHostName, strCode);
    List1->addItem(line);
}

void frmPing::Command1_Click() {
    if (m_probe)
        return; // a click while the echo yields starts no second one
    List1->clear();
    // Text that is no number names its box instead of probing with 0.
    const struct {
        QLineEdit* box;
        const char* label;
        qint64 max;
    } boxes[] = {{txtChrPkt, "Chars/Pkt", std::numeric_limits<qint32>::max()},
                 {txtTimeOut, "TimeOut (ミリ秒)", std::numeric_limits<qint32>::max()},
                 {txtPacket, "Packets", std::numeric_limits<qint32>::max()},
                 {txtTTL, "TTL", std::numeric_limits<qint16>::max()}};
    qint64 values[4];
    for (int i = 0; i < 4; ++i) {
        const auto v =
            whole(boxes[i].box,
                  i == 3 ? std::numeric_limits<qint16>::min() : std::numeric_limits<qint32>::min(),
                  boxes[i].max);
        if (!v) {
            m_ui.messageBox(QStringLiteral("【%1】には数値を入力してください。")
                                .arg(QString::fromUtf8(boxes[i].label)),
                            platform::MessageIcon::Critical);
            boxes[i].box->setFocus();
            return;
        }
        values[i] = *v;
    }

    C_PING cPING;
    m_probe = &cPING;
    cPING.onPing([this](qint32 code, const QString& text, const QString& host, const QString& ip,
                        qint32 bytes, qint32 rtt,
                        qint32 ttl) { cPING_Ping(code, text, host, ip, bytes, rtt, ttl); });
    const QString host = Text1->currentText();
    cPING.setCharsPackets(static_cast<qint32>(values[0]));
    cPING.setTimeout(static_cast<qint32>(values[1]));
    cPING.setPackets(static_cast<qint32>(values[2]));
    cPING.setTTL(static_cast<int>(values[3]));
    if (cPING.Ping(host)) {
        // An address without a reverse name stays as typed, ready for the
        // next Start.
        if (!cPING.HostName().isEmpty())
            Text1->setEditText(cPING.HostName());
        Text2->setText(cPING.IPAddress());
        txtChrPkt->setText(QString::number(cPING.CharsPackets()));
        txtTimeOut->setText(QString::number(cPING.Timeout()));
        txtPacket->setText(QString::number(cPING.Packets()));
        txtTTL->setText(QString::number(cPING.TTL()));
    } else {
        m_ui.messageBox(QStringLiteral("コンピュータ名またはIPアドレスが不正です。"),
                        platform::MessageIcon::Information, platform::Modality::System);
    }
    m_probe = nullptr;
}

void frmPing::done(int result) {
    // Closed during an echo: the echo ends now, so the tray gets its window
    // back, and restarts monitoring, at once.
    if (m_probe)
        m_probe->abort();
    m_state.WindowOpen = 0;
    QDialog::done(result);
}
