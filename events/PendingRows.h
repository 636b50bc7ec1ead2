#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace events {

/// One event row as it waits: when it was made and what it holds.
struct WaitingRow {
    QDateTime made;
    QString serverName;
    QString message;
    qint16 error = 0;
    quint64 seq = 0; ///< its place among the rows of this run (not in the file)
};

/// The side file Pulsewatch.pending in the program folder: where rows that
/// no store took outlive the program, until the next start writes them. Its
/// room is reserved while the disk has some, so that on a full disk the
/// rows still go into space the file already owns.
class PendingRows {
public:
    /// Room for the rows that may wait, at some 200 bytes a row.
    static constexpr qint64 kReservedBytes = 2 * 1024 * 1024;

    explicit PendingRows(QString path) : m_path(std::move(path)) {}

    QString path() const { return m_path; }

    /// Makes the file and reserves its room; false where the disk or the
    /// folder gives none (rows then wait in memory only).
    bool reserve();

    /// The rows the file holds, oldest first (none when it is missing,
    /// empty or not one of ours).
    QList<WaitingRow> read() const;

    /// Puts rows in the file in place of what it held, within the room it
    /// owns (growing it where the disk allows). Returns how many rows are in
    /// the file now: the oldest are kept when not all fit.
    int write(const QList<WaitingRow>& rows);

    /// Adds one row after those the file holds; false when it does not fit.
    bool append(const WaitingRow& row);

    /// Marks the file empty, keeping its room.
    bool clear() { return write({}) == 0; }

private:
    QString m_path;
    qint64 m_payload = -1; // bytes of rows the file holds; -1 until read
};

} // namespace events
