#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace dialup {

/// One word of pppd's option syntax, as pppd reads it, and where its bytes
/// stand in its line.
struct OptionWord {
    QByteArray text;
    qsizetype line = 0, begin = 0, end = 0;
};

/// The words of lines as pppd reads them: blanks separate words, " and '
/// quote, a backslash escapes (C escapes, \s, \ooo, \xhh), # starts a
/// comment. A word never runs on into the next line here.
QList<OptionWord> optionWords(const QList<QByteArray>& lines);

/// value written as one pppd word that reads back as exactly value.
QByteArray optionWord(const QByteArray& value);

/// A word of a /bin/sh command line, as the shell reads it, and where it
/// stands in the command.
struct ShellWord {
    QByteArray text;
    qsizetype begin = 0, end = 0;
};
QList<ShellWord> shellWords(const QByteArray& command);

/// value as one shell word that no shell expands.
QByteArray shellQuoted(const QByteArray& value);

/// A text file changed line by line: every byte of a line that is not
/// changed is written back as it was (other encodings, CR LF, comments).
class OptionFile {
public:
    /// False when the file cannot be read.
    bool load(const QString& path);

    QList<QByteArray> lines;

    /// Adds a line at the end.
    void append(const QByteArray& line);

    /// Replaces the file through a temporary file and a rename. A symlink
    /// stays a symlink (the file it names is replaced); owner, group and mode
    /// are kept (0600 for a new file). False, with nothing changed, when the
    /// new file could not get the old one's owner and group.
    bool save() const;

private:
    QString m_path;
    bool m_finalNewline = true;
};

} // namespace dialup
