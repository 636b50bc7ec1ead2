#pragma once

#include <QByteArray>
#include <QString>

namespace mailwire {

/// Splits what the server sends into lines. Only CR LF ends a line: a bare
/// LF does not, and text after the last CR LF waits for the next piece.
class ReplyReader {
public:
    /// Lines longer than this (without CR LF) are a broken peer, not a reply.
    static constexpr qsizetype kMaxLine = 8 * 1024 * 1024;

    void append(const QByteArray& bytes) { m_buffer.append(bytes); }

    /// Takes the next complete line (without its CR LF); false when none is
    /// complete yet.
    bool takeLine(QString* line);

    /// True when the unfinished line has grown beyond kMaxLine.
    bool overlong() const { return m_buffer.size() - m_scanned > kMaxLine; }

    qsizetype pending() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0; // bytes already searched for CR LF
};

/// True for the last line of a reply: three digits and a space ("250 OK").
bool isFinalReplyLine(const QString& line);

} // namespace mailwire
