#pragma once

#include "monitor/EventLog.h"
#include "platform/Sleeper.h"

#include <QSerialPort>
#include <QString>

#include <optional>

namespace alerts {

/// The serial settings text "speed,parity,data bits,stop bits", for example
/// "9600,N,8,1"; parity N, E, O, M or S; stop bits 1, 1.5 or 2.
struct SerialSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
std::optional<SerialSettings> parseSerialSettings(const QString& text);

/// The device of a COMPORT setting: a number n is /dev/ttyS(n-1), a value
/// that starts with "/" is a device path already (USB modems are
/// /dev/ttyACM0 or /dev/ttyUSB0). "" when the setting names no port.
QString serialDevice(const QString& comport);

/// Rings a telephone through the modem: dials the number as a voice call,
/// holds the line once the modem has answered "OK", and hangs up.
class TelephoneAlert {
public:
    /// The modem's "OK" is waited for this long: a poll here takes
    /// microseconds, so a count of polls would give up before any modem
    /// could finish dialling.
    static constexpr int kAnswerWaitMs = 60000;
    static constexpr int kHoldMs = 10000;
    /// The modem's answer to ATH is read before the port closes, so it cannot
    /// be left in the line for the next call to mistake for its own "OK".
    static constexpr int kHangUpAnswerMs = 2000;

    TelephoneAlert(monitor::EventLog& log, platform::Sleeper& sleeper);

    /// Dials TEMP on the port PORT (a COMPORT value) with the settings
    /// C_Setting. A port that cannot be opened, or settings that make no
    /// sense, become one "COM" row; nothing is dialled then. A port that
    /// vanishes during the call (a USB modem unplugged) ends it at once with
    /// the same row.
    void GoToTelephone(const QString& TEMP, const QString& PORT, const QString& C_Setting);

    void setAnswerWaitMs(int ms) { m_answerWaitMs = ms; }
    void setHangUpAnswerMs(int ms) { m_hangUpAnswerMs = ms; }

private:
    monitor::EventLog& m_log;
    platform::Sleeper& m_sleeper;
    int m_answerWaitMs = kAnswerWaitMs;
    int m_hangUpAnswerMs = kHangUpAnswerMs;
};

} // namespace alerts
