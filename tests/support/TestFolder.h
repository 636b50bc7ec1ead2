#pragma once

#include "platform/Clock.h"
#include "settings/AppState.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace testsupport {

/// A program folder of its own for one test, optionally with the empty
/// event database the build delivers.
class TestFolder {
public:
    explicit TestFolder(bool withDatabase = true);
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }
    QByteArray read(const QString& name) const;
    void write(const QString& name, const QByteArray& content) const;

private:
    QTemporaryDir m_dir;
};

/// A clock that stays where the test puts it.
class FixedClock : public platform::Clock {
public:
    explicit FixedClock(QDateTime t) : m_t(std::move(t)) {}
    QDateTime now() const override { return m_t; }
    void set(QDateTime t) { m_t = std::move(t); }

private:
    QDateTime m_t;
};

/// Runs fn and says whether it came back within ms. When it has not by then
/// (it waits on the FIFO at fifo), the FIFO is opened at both ends, again
/// and again, so that the wait ends and the test can go on.
bool returnsWithin(int ms, const QString& fifo, const std::function<void()>& fn);

/// True while a copy of the program holds the single-copy lock of folder.
bool folderLocked(const QString& folder);

/// Rows of the event table, oldest first, as "ServerName|Message|Error"
/// (with withDate: "AddDate|ServerName|Message|Error").
QStringList eventRows(const QString& databasePath, bool withDate = false);

} // namespace testsupport
