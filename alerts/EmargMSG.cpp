#include "alerts/EmargMSG.h"

#include "platform/Artwork.h"
#include "platform/Clock.h"
#include "platform/DialogKeys.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString reasonOf(const ServerEntry& s) {
    return s.Message.isEmpty() ? QStringLiteral("原因不明") : s.Message;
}

} // namespace

EmargMSG::EmargMSG(const AppState& state, platform::SoundPlayer& sound, events::EventLog& log,
                   QWidget* parent)
    : QDialog(parent), m_state(state), m_sound(sound) {
    setObjectName(QStringLiteral("EmargMSG"));
    setWindowTitle(QStringLiteral("SERVER ERROR"));
    // An alarm must not hide behind other windows.
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowIcon(platform::svgIcon(platform::kRunningIcon));

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(platform::svgPixmap(platform::kAlarmPicture, 182, 227));
    image->setFixedSize(182, 227);

    auto* frame = new QGroupBox(QStringLiteral("ERROR REPORT"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    QFont ocr;
    ocr.setFamilies({QStringLiteral("OCR A"), QStringLiteral("DejaVu Sans Mono"),
                     QStringLiteral("Liberation Mono"), QStringLiteral("monospace")});
    ocr.setStyleHint(QFont::Monospace);
    ocr.setBold(true);
    frame->setFont(ocr);

    auto* text = m_text = new QPlainTextEdit(frame);
    text->setObjectName(QStringLiteral("Text1"));
    text->setReadOnly(true);
    QFont mincho = platform::minchoFont();
    mincho.setPointSize(11);
    text->setFont(mincho);

    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(text);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(image, 0, Qt::AlignTop);
    layout->addWidget(frame, 1);
    resize(640, 260);
    // Only the close box ends the alarm: a stray Escape must not silence it.
    platform::operatorKeys(*this, platform::Escape::Ignored);

    refresh();

    // A silent alarm is still an alarm on screen; the log says why it was
    // silent.
    m_sound.onLateFailure = [&log](const QString& why) { log.appendTextLog(why); };
    // Without a sound of its own the alarm plays the one the program ships.
    const QString problem = m_sound.playLoop(state.EMARGE_SOUND.isEmpty()
                                                 ? state.AppFolder + QStringLiteral("alarm.wav")
                                                 : state.EMARGE_SOUND);
    if (!problem.isEmpty())
        log.appendTextLog(problem);
}

void EmargMSG::refresh() {
    m_down.clear();
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = m_state.Servers[i];
        if (s.Check == 1 && s.Status == -1)
            m_down.append(
                {s.Name, QStringLiteral("【") + s.Name + QStringLiteral("】 - ") + reasonOf(s)});
    }
    // A server down again is listed as down, no longer as recovered.
    m_marked.removeIf([this](const Line& m) {
        return std::any_of(m_down.cbegin(), m_down.cend(),
                           [&m](const Line& d) { return d.first == m.first; });
    });
    showLines();
}

void EmargMSG::markRecovered(const QString& name, const QDateTime& upAt) {
    const auto down = std::find_if(m_down.begin(), m_down.end(),
                                   [&name](const Line& d) { return d.first == name; });
    if (down == m_down.end())
        return;
    m_marked.append(
        {name, down->second + QStringLiteral("　→ 復旧 ") + platform::generalDate(upAt)});
    m_down.erase(down);
    showLines();
}

void EmargMSG::showLines() {
    m_list.clear();
    for (const QList<Line>* lines : {&m_down, &m_marked})
        for (const Line& l : *lines)
            m_list += l.second + QStringLiteral("\r\n");
    m_text->setPlainText(QString(m_list).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

EmargMSG::~EmargMSG() {
    Form_Unload();
}

void EmargMSG::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_sound.stop();
    m_sound.onLateFailure = nullptr;
}

// However it is closed: the close box, or the program's end closing every
// window.
void EmargMSG::closeEvent(QCloseEvent* event) {
    Form_Unload();
    QDialog::closeEvent(event);
}

void EmargMSG::done(int result) {
    Form_Unload();
    QDialog::done(result);
}
