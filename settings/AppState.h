#pragma once

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>

/// One watched server: a slot of the server table.
struct ServerEntry {
    QString Name;      ///< host name or dotted IPv4 address
    QString Message;   ///< outcome line of the latest probe (never stored in a file)
    QString Remark;    ///< free remark, shown in the list editor only
    qint16 Check = 0;  ///< 1 watched, -1 watching paused, anything else not probed
    qint16 Status = 0; ///< 1 answered, -1 down in the latest cycle
};

/// The process-wide state of the program: the in-memory settings, the server
/// table and the flags the windows share. main() owns the one instance and
/// hands it on; tests make their own.
struct AppState {
    static constexpr int kMaxServers = 10;

    /// Folder of the settings files, the event database and the text log,
    /// with one trailing "/".
    QString AppFolder;

    // General settings, each named after its key in the file "Pulsewatch".
    QString DIAL_ENTRY;
    QString DIAL_USER;
    QString DIAL_PWD;
    QString EMARGE_SOUND;
    qint16 mINTERVAL = 0;
    QString EMARGE_SERVER;
    QString EMARGE_MAIL;
    QString EMARGE_MAIL2;
    qint16 USED_LAN = 0;
    QString TEL1, TEL2, TEL3, TEL4, TEL5, TEL6;
    QString RETRY = QStringLiteral("0");
    QString COMPORT;
    QString COMSETTING;
    // The alert mail's relay beyond its host; absent keys give the plain
    // dialogue on port 25.
    QString EMARGE_PORT;        ///< port; "" for the mode's usual one (25, 587, 465)
    qint16 EMARGE_SECURITY = 0; ///< 0 plain, 1 STARTTLS (required), 2 TLS from the first byte
    QString EMARGE_USER;        ///< SMTP AUTH login; "" for none
    QString EMARGE_PWD;         ///< its password, stored in plain text as DIAL_PWD is
    QString EMARGE_CAFILE;      ///< CA certificates of a private relay; "" for the system's
    QString EMARGE_FROM;        ///< sender address of the alarm mails; "" for the default
    // Notices beside the mail, the telephone and the window; each is off
    // while its key is absent.
    qint16 RECOVERY_NOTICE = 0; ///< 1: tell when a server that was down answers again
    QString WEBHOOK_URL;        ///< chat webhook (http:// or https://); "" for none
    QString WEBHOOK_FORMAT;     ///< "text" for text/plain; otherwise JSON {"text": ...}
    QString WEBHOOK_CAFILE;     ///< CA certificates of the webhook; "" for the system's
    qint16 DESKTOP_NOTICE = 0;  ///< 1: the desktop's notification service too
    // A shared event store for several watch stations; absent: the file PLW.
    QString EVENT_DB;     ///< libpq URI of a PostgreSQL database; "" for PLW
    QString STATION_NAME; ///< this station's name there; "" for the host name

    // Server table: slots 1..SERVER_CNT are in use, slot 0 never is.
    qint16 SERVER_CNT = 0;
    std::array<ServerEntry, kMaxServers + 1> Servers;

    qint16 WindowOpen = 0;    ///< 1 while a tool window is open
    qint16 MonitorState = 1;  ///< 1 monitoring, -1 paused
    QString DatabasePath;     ///< the event database file
    qint32 LastProbeCode = 0; ///< outcome code of the latest probe
    QString LastProbeText;    ///< outcome line of the latest probe
    qint16 AllServersUp = -1; ///< -1 until a watched server is found down in a cycle

    // The server list editor's exchange values: the selected or entered
    // server and its 1-based row (0 when none).
    QString EditName;
    QString EditRemark;
    qint16 EditIndex = 0;

    /// The slots in use, 1..serverCount(): SERVER_CNT held to 0..10 whatever
    /// a file or an editor left in it.
    int serverCount() const { return std::clamp<int>(SERVER_CNT, 0, kMaxServers); }

    /// State rooted in folder (with or without a trailing "/").
    explicit AppState(const QString& folder = QString());
};
