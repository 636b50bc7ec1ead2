// What a hostile SMTP server can send, in pieces of any size: the reader
// must hand out exactly the CR LF-terminated lines, in order, and keep the
// rest.
#include "ReplyReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte sets the piece size, so splits inside CR LF are tried.
    const size_t piece = 1 + data[0] % 16;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1,
                           static_cast<qsizetype>(size - 1));
    mailwire::ReplyReader reader;
    QByteArray rebuilt;
    for (qsizetype at = 0; at < input.size(); at += static_cast<qsizetype>(piece)) {
        reader.append(input.mid(at, static_cast<qsizetype>(piece)));
        QString line;
        while (reader.takeLine(&line)) {
            if (line.contains(QStringLiteral("\r\n")))
                abort();
            rebuilt += line.toLatin1() + "\r\n";
            (void)mailwire::isFinalReplyLine(line);
        }
    }
    // Everything handed out is the input's prefix up to its last CR LF.
    const qsizetype last = input.lastIndexOf("\r\n");
    if (rebuilt != (last < 0 ? QByteArray() : input.left(last + 2)))
        abort();
    if (reader.pending() != input.size() - rebuilt.size())
        abort();
    return 0;
}
