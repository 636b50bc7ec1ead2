#pragma once

#include <QByteArray>
#include <QString>

namespace mailwire {

/// Splits what the server sends into lines. Only CR LF ends a line: a bare
/// LF does not, and text after the last CR LF waits for the next piece.
class ReplyReader {
public:
    /// An unfinished line longer than this (without CR LF) is a broken peer,
    /// not a reply.
    static constexpr qsizetype kMaxLine = 2 * 1024 * 1024;

    void append(const QByteArray& bytes) { m_buffer.append(bytes); }

    /// Takes the next complete line (without its CR LF); false when none is
    /// complete yet.
    bool takeLine(QString* line);

    /// True when no line is complete and the unfinished one has grown beyond
    /// kMaxLine.
    bool overlong();

    qsizetype pending() const { return m_buffer.size(); }

private:
    // Searches for the next CR LF from where the last search stopped; -1
    // when there is none yet.
    qsizetype lineEnd();

    QByteArray m_buffer;
    qsizetype m_scanned = 0; // bytes already searched for CR LF
};

/// True for the last line of a reply: three digits and a space ("250 OK").
bool isFinalReplyLine(const QString& line);

} // namespace mailwire
