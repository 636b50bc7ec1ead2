#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>

#include <functional>
#include <vector>

namespace logview {

/// The rows of a search shown so far, kept compact: the date packed into a
/// number, the server as an index into the names met, the message as UTF-8
/// in one shared buffer. Further rows come a page at a time as the view
/// scrolls to the end. The first column of a row whose Error is not 1 is
/// red.
class EventListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        quint64 date;       // YYYYMMDDhhmmss
        quint32 textOffset; // into the message buffer
        quint32 textLength;
        quint16 server; // index into the server names
        qint16 error;
        quint16 station; // index into the station names
    };

    /// Rows fetched each time the view reaches the last one shown.
    static constexpr int kPageRows = 500;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void clear();
    /// Appends one row; AddDate as the database holds it
    /// ("YYYY-MM-DD hh:mm:ss"). Call beginFill/endFill around a batch.
    void append(QStringView addDate, const QString& server, QStringView message, qint16 error,
                const QString& station = QString());
    /// A shared store's rows carry their station, shown in a fourth column.
    void setStationsShown(bool shown);
    QString stationText(int row) const;
    void beginFill();
    void endFill();

    /// Where the rows after those shown come from: more(n) appends up to n
    /// rows and returns false once the search has no more (or failed).
    /// clear() forgets it.
    void setMoreRows(std::function<bool(int n)> more) { m_more = std::move(more); }
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    /// The first column as shown: the date in the desktop's general form.
    QString dateText(int row) const;
    QString serverText(int row) const;
    QString messageText(int row) const;
    qint16 error(int row) const { return m_rows[static_cast<size_t>(row)].error; }

    /// The server names met, and the message of the most bytes: what the
    /// view measures to show every server and message whole.
    const QStringList& serverNames() const { return m_servers; }
    QString longestMessage() const;

private:
    std::vector<Row> m_rows;
    QByteArray m_text;
    QStringList m_servers;
    QStringList m_stations;
    qsizetype m_lastServer = -1; // consecutive rows often share a server
    qsizetype m_lastStation = -1;
    bool m_stationsShown = false;
    qsizetype m_longest = -1; // row of the longest message
    int m_shown = 0;
    std::function<bool(int)> m_more;
};

} // namespace logview
