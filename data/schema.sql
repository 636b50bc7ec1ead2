-- The event table. Columns are read by position: record key, AddDate,
-- ServerName, Message, Error. AddDate is the local time of the insertion,
-- filled by the database, as text that sorts in time order.
CREATE TABLE Pulsewatch (
    ID INTEGER PRIMARY KEY,
    AddDate TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')),
    ServerName TEXT NOT NULL DEFAULT '',
    Message TEXT NOT NULL DEFAULT '',
    Error INTEGER NOT NULL DEFAULT 0
);
-- The log viewer searches by day ranges, optionally for one server.
CREATE INDEX Pulsewatch_AddDate ON Pulsewatch (AddDate);
CREATE INDEX Pulsewatch_ServerName_AddDate ON Pulsewatch (ServerName, AddDate);
