#pragma once

#include "events/EventLog.h"
#include "platform/SoundPlayer.h"
#include "settings/AppState.h"

#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QPair>

class QGroupBox;
class QLabel;
class QPlainTextEdit;

/// The emergency window: lists every watched server the cycle found down
/// and loops the alarm sound until the operator closes it. It does not hold
/// the watch: later cycles refresh its list while it stays open.
class EmargMSG : public QDialog {
    Q_OBJECT
public:
    /// Loads the window: builds the list from the server table and starts
    /// EMARGE_SOUND (alarm.wav in the program folder when it is empty). A
    /// sound that cannot play leaves one line in the text log; the window
    /// opens all the same.
    EmargMSG(const AppState& state, platform::SoundPlayer& sound, events::EventLog& log,
             QWidget* parent = nullptr);
    ~EmargMSG() override;

    /// The list as built, one line per server, each ending in CR LF.
    QString listText() const { return m_list; }

    /// Builds the list again from the server table, for a later cycle that
    /// found servers down while the window is open; the sound plays on.
    void refresh();

    /// Marks the line of a server that answers again with the time it did;
    /// the line stays, marked, until the server is down again.
    void markRecovered(const QString& name, const QDateTime& upAt);

    /// Stops the sound; runs when the window closes, however it closes.
    void Form_Unload();

    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    const AppState& m_state;
    platform::SoundPlayer& m_sound;
    QPlainTextEdit* m_text;
    // Each listed server with its line: those down now, in slot order, then
    // those that answer again, marked.
    using Line = QPair<QString, QString>;
    QList<Line> m_down;
    QList<Line> m_marked;
    void showLines();
    QString m_list;
    bool m_unloaded = false;
};
