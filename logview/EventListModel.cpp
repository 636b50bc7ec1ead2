#include "logview/EventListModel.h"

#include "logview/EventTime.h"

#include <QBrush>
#include <QColor>

namespace logview {
namespace {

// The index of name among names, added when new (at most 0xFFFF names);
// hint is where the last one was, as consecutive rows mostly share it.
quint16 indexIn(QStringList& names, const QString& name, qsizetype& hint) {
    if (hint < 0 || names[hint] != name) {
        hint = names.indexOf(name);
        if (hint < 0) {
            hint = std::min<qsizetype>(names.size(), 0xFFFF);
            if (hint == names.size())
                names << name;
        }
    }
    return static_cast<quint16>(hint);
}

} // namespace

int EventListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shown;
}

int EventListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_stationsShown ? 4 : 3;
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0:
        return QStringLiteral("日付");
    case 1:
        return QStringLiteral("サーバー名");
    case 2:
        return QStringLiteral("メッセージ");
    case 3:
        return QStringLiteral("局");
    }
    return {};
}

QString EventListModel::dateText(int row) const {
    return shownTime(m_rows[static_cast<size_t>(row)].date);
}

QString EventListModel::serverText(int row) const {
    return m_servers.value(m_rows[static_cast<size_t>(row)].server);
}

QString EventListModel::stationText(int row) const {
    return m_stations.value(m_rows[static_cast<size_t>(row)].station);
}

void EventListModel::setStationsShown(bool shown) {
    if (shown == m_stationsShown)
        return;
    beginResetModel();
    m_stationsShown = shown;
    endResetModel();
}

QString EventListModel::messageText(int row) const {
    const Row& r = m_rows[static_cast<size_t>(row)];
    return QString::fromUtf8(m_text.constData() + r.textOffset, r.textLength);
}

QString EventListModel::longestMessage() const {
    return m_longest < 0 ? QString() : messageText(static_cast<int>(m_longest));
}

QVariant EventListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    // The whole message at a glance, wrapped, without scrolling to it.
    if (role == Qt::ToolTipRole && index.column() == 2)
        return QStringLiteral("<p>") + messageText(index.row()).toHtmlEscaped() +
               QStringLiteral("</p>");
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case 0:
            return dateText(index.row());
        case 1:
            return serverText(index.row());
        case 2:
            return messageText(index.row());
        case 3:
            return stationText(index.row());
        }
    }
    // Only the first column of an error row is red; the others keep the
    // list's own colour.
    if (role == Qt::ForegroundRole && index.column() == 0)
        return QBrush(error(index.row()) == 1 ? QColor(Qt::black) : QColor(255, 0, 0));
    return {};
}

void EventListModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_text.clear();
    m_text.squeeze();
    m_servers.clear();
    m_stations.clear();
    m_lastServer = -1;
    m_lastStation = -1;
    m_longest = -1;
    m_shown = 0;
    m_more = nullptr;
    endResetModel();
}

void EventListModel::beginFill() {}

void EventListModel::append(QStringView addDate, const QString& server, QStringView message,
                            qint16 error, const QString& station) {
    const quint16 s = indexIn(m_servers, server, m_lastServer);
    const quint16 st = indexIn(m_stations, station, m_lastStation);
    const qsizetype offset = m_text.size();
    m_text += message.toUtf8();
    const auto length = static_cast<quint32>(m_text.size() - offset);
    if (m_longest < 0 || length > m_rows[static_cast<size_t>(m_longest)].textLength)
        m_longest = static_cast<qsizetype>(m_rows.size());
    m_rows.push_back(Row{packedTime(addDate), static_cast<quint32>(offset), length, s, error, st});
}

void EventListModel::endFill() {
    // The view learns of the rows in one step, not one signal per row.
    const int total = static_cast<int>(m_rows.size());
    if (total > m_shown) {
        beginInsertRows(QModelIndex(), m_shown, total - 1);
        m_shown = total;
        endInsertRows();
    }
}

bool EventListModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_more != nullptr;
}

void EventListModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || !m_more)
        return;
    // A copy: more() may end the search, and with it the function itself.
    const std::function<bool(int)> more = m_more;
    if (!more(kPageRows))
        m_more = nullptr;
    endFill();
}

} // namespace logview
