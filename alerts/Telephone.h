#pragma once

#include "events/EventLog.h"
#include "platform/Ending.h"
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

/// How a modem ended a dial: its final result code, in words or as the
/// number ATV0 gives (a result may arrive in pieces; OK is found as soon as
/// its two letters are there).
enum class ModemResult { None, Ok, Busy, NoCarrier, Error, NoDialTone, NoAnswer };
ModemResult modemResult(const QByteArray& answer);

/// Rings a telephone through the modem: dials the number as a voice call,
/// holds the line once the modem has answered "OK", and hangs up.
class TelephoneAlert {
public:
    /// The modem's answer to the dial is waited for this long. With the
    /// trailing ";" a modem answers as soon as it has dialled, in a few
    /// seconds; a modem silent beyond this is taken as failed, so that two
    /// numbers cannot hold the emergency window back by minutes.
    static constexpr int kAnswerWaitMs = 20000;
    static constexpr int kHoldMs = 10000;
    /// The modem's answer to ATH is read before the port closes, so it cannot
    /// be left in the line for the next call to mistake for its own "OK".
    static constexpr int kHangUpAnswerMs = 2000;
    /// When the program is ending there is no next call: the ATH goes out
    /// and is given only this long.
    static constexpr int kEndingHangUpMs = 200;

    TelephoneAlert(events::EventLog& log, platform::Sleeper& sleeper,
                   const platform::Ending& ending);

    /// Dials TEMP on the port PORT (a COMPORT value) with the settings
    /// C_Setting. A port that cannot be opened, or settings that make no
    /// sense, become one "COM" row; nothing is dialled then. A port that
    /// vanishes during the call (a USB modem unplugged) ends it at once with
    /// the same row. A modem that answers BUSY, NO CARRIER, ERROR, NO
    /// DIALTONE or NO ANSWER, or nothing within the answer wait, is hung up
    /// at once and leaves one "TEL" row naming the result. When the program
    /// is told to end, the call is hung up at once and leaves no row.
    void GoToTelephone(const QString& TEMP, const QString& PORT, const QString& C_Setting);

    void setAnswerWaitMs(int ms) { m_answerWaitMs = ms; }
    void setHangUpAnswerMs(int ms) { m_hangUpAnswerMs = ms; }

private:
    events::EventLog& m_log;
    platform::Sleeper& m_sleeper;
    const platform::Ending& m_ending;
    int m_answerWaitMs = kAnswerWaitMs;
    int m_hangUpAnswerMs = kHangUpAnswerMs;
};

} // namespace alerts
