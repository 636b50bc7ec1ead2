#include "ReplyReader.h"

namespace mailwire {

qsizetype ReplyReader::lineEnd() {
    // Resume the search where the last one stopped (one byte back, in case
    // the CR arrived at the end of the previous piece), so a long line that
    // trickles in is not searched from its start again and again.
    const qsizetype from = std::max<qsizetype>(0, m_scanned - 1);
    const qsizetype p = m_buffer.indexOf("\r\n", from);
    m_scanned = p < 0 ? m_buffer.size() : p;
    return p;
}

bool ReplyReader::takeLine(QString* line) {
    const qsizetype p = lineEnd();
    if (p < 0)
        return false;
    // Reply text is 7-bit in practice; Latin-1 keeps any other byte intact.
    *line = QString::fromLatin1(m_buffer.constData(), p);
    m_buffer.remove(0, p + 2);
    m_scanned = 0;
    return true;
}

bool ReplyReader::overlong() {
    return lineEnd() < 0 && m_scanned > kMaxLine;
}

bool isFinalReplyLine(const QString& line) {
    return line.size() >= 4 && line[0].isDigit() && line[1].isDigit() && line[2].isDigit() &&
           line[0].unicode() < 128 && line[1].unicode() < 128 && line[2].unicode() < 128 &&
           line[3] == QLatin1Char(' ');
}

} // namespace mailwire
