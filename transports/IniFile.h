#pragma once
// Small settings files in INI form: "[section]" lines, each followed by
// "key=value" lines; lines starting with ';' or '#' are comments. Section and
// key names are compared without regard to case.
//
// A file is kept as its own bytes: writing a key changes that key's line only
// (or adds the line to its section, or the section at the end of the file),
// and every other byte stays as it was, whatever its encoding and line ends
// (CR LF, LF or a lone CR). Names and values are shown as UTF-8 where their
// bytes are valid UTF-8 and as Latin-1 otherwise, so a value that was read
// can be written back unchanged. New values are written as UTF-8.
#include <QByteArray>
#include <QList>
#include <QString>

#include "SettingsFolder.h" // where the files a TIniFile opens lie

#include <cstdint>
#include <optional>
#include <utility>

// Key and value pairs written to one section together.
using TIniValues = QList<std::pair<QString, QString>>;

// The keys of one section of a settings file, found in one walk of the file:
// for reading several keys, as a walk of a large file takes time.
class TIniSection {
public:
    // The value under `key` with surrounding blanks removed, cut to
    // TIniText::MaxStringLength, or nothing when the key is missing. A key
    // named twice reads as its first line.
    std::optional<QString> Value(const QString& key) const;
    QString ReadString(const QString& key, const QString& defaultValue) const;
    // The value as an integer literal (IntegerLiteral.h); `defaultValue`
    // when it is missing or not such a number.
    int32_t ReadInteger(const QString& key, int32_t defaultValue) const;

private:
    friend class TIniText;
    // Name and value bytes of each key line of the section, in file order.
    QList<std::pair<QByteArray, QByteArray>> FEntries;
};

// The contents of one settings file, parsed once, read any number of times.
class TIniText {
public:
    // Longest string value handed out by ReadString; longer values are cut.
    static constexpr int MaxStringLength = 2047;

    enum class TSetResult { Unchanged, Changed, Refused };

    TIniText() = default;
    explicit TIniText(QByteArray bytes);

    const QByteArray& Bytes() const { return FBytes; }

    // The value under `key` in `section` with surrounding blanks removed,
    // cut to MaxStringLength, or nothing when the section or key is missing.
    std::optional<QString> Value(const QString& section, const QString& key) const;
    // Every key of `section` (of each of its parts, when it is named more than
    // once), in one walk of the file.
    TIniSection Section(const QString& section) const;
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // The value as an integer literal (IntegerLiteral.h); `defaultValue`
    // when it is missing or not such a number.
    int32_t ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const;

    // Stores `value` under `key`. Unchanged when the key already reads as
    // `value`; Refused (nothing changed) for names or values that a file line
    // cannot hold: line breaks, an empty key, a key with '=' or starting
    // like a section or comment line, a section name with brackets.
    TSetResult SetValue(const QString& section, const QString& key, const QString& value);
    // Stores all `values` in `section` in one walk of the file, as storing
    // them one after the other would, except that a key named twice is stored
    // once, with its last value; Refused, and nothing changed, when any one is
    // refused.
    TSetResult SetValues(const QString& section, const TIniValues& values);

private:
    friend class TIniFile;

    // A piece of a file that starts at a line start; `startsFile` when it is
    // the file's beginning (where a byte order mark may stand).
    TIniText(QByteArray bytes, bool startsFile);

    // One line: its text is [start, end), its line end [end, next).
    struct TLine {
        qsizetype start;
        qsizetype end;
        qsizetype next;
    };
    struct TSectionLines {
        QList<TLine> keys;                  // the key lines, in file order
        std::optional<TLine> lastInSection; // last non-blank line of the section, or its header
    };

    // The line that starts at `start`; the file is walked rather than
    // indexed, as a large file would need a large index.
    TLine LineAt(qsizetype start) const;
    // The start of the first line at or after the line start `from` whose
    // text begins with '[' (the only lines that can be section headers), or
    // nothing. Looks for the brackets only, so the lines of other sections
    // are passed over at the speed of a byte search.
    std::optional<qsizetype> NextBracketLine(qsizetype from) const;
    TLine LastLine() const;
    QByteArrayView Text(const TLine& line) const;
    // Calls `visit(line, isHeader)` for each line of `section`: its header
    // lines and the lines that follow them up to the next header. `inSection`
    // says whether the text starts inside the section and is left as at its
    // end.
    template <typename TVisit>
    void ForEachLineOf(const QString& section, bool& inSection, TVisit visit) const;
    TSectionLines Locate(const QString& section) const;
    // Appends the lines of `section` to `parts`, byte for byte; see ForEachLineOf.
    void AppendLinesOf(const QString& section, bool& inSection, QByteArray& parts) const;
    // The first of `lines` whose key is `key`.
    std::optional<TLine> KeyLine(const QList<TLine>& lines, const QString& key) const;
    // Where the value of a key line lies in the file, without its blanks.
    std::pair<qsizetype, qsizetype> ValueAt(const TLine& line) const;
    // The line end that new lines get.
    QByteArray LineEnd() const;
    // The bytes that start a new line at the end of the file: a line end
    // when the last line has none.
    QByteArray OpenLastLine() const;

    QByteArray FBytes;
    bool FStartsFile = true;
};

// A settings file on disk. Only a regular file, named directly or through
// symbolic links, is ever read or replaced. Anything else at the path (a
// folder, a device node, a FIFO, a socket, a link to one of these, a link to
// nothing or a link that loops) is unusable: it reads as nothing, is never
// opened for writing, and nothing waits on it. A file with an empty name
// (KeepNoSettingsFiles) reads as empty and takes every write without
// storing it.
class TIniFile {
public:
    static constexpr int MaxStringLength = TIniText::MaxStringLength;

    explicit TIniFile(QString fileName);

    const QString& FileName() const { return FFileName; }

    // Why the path cannot serve as a settings file ("it is a FIFO, not a
    // regular file"); empty when it names a regular file or nothing at all.
    QString Problem() const;

    // The file's contents: empty when the file is missing, nothing when it
    // exists but cannot be read (unusable, no read permission).
    std::optional<TIniText> Load() const;

    // The keys of `section`, in one pass over the file through a small
    // buffer: a large file read whole costs more in fresh memory than in
    // reading. Nothing when the file exists but cannot be read.
    std::optional<TIniSection> ReadSection(const QString& section) const;

    // Single reads; for several keys of a section read the section once.
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    int32_t ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const;

    // Store the values and save the file at once (through a temporary file
    // renamed over the file, or over a symbolic link's target, so the file
    // is either replaced whole or left as it was). The file is not touched
    // when every value reads as given already. False when the
    // file could not be read or written or a value was refused; ErrorString
    // then says why and the file on disk is unchanged.
    [[nodiscard]] bool Write(const QString& section, const TIniValues& values);
    [[nodiscard]] bool WriteString(const QString& section, const QString& key, const QString& value);
    [[nodiscard]] bool WriteInteger(const QString& section, const QString& key, int32_t value);

    const QString& ErrorString() const { return FError; }

private:
    // Load, with `error` saying why the file could not be read.
    std::optional<TIniText> Load(QString& error) const;
    // The lines of every part of `section` (from each of its headers up to
    // the next header) as one text, in one pass over the file; see
    // ReadSection.
    std::optional<TIniText> LoadSection(const QString& section, QString& error) const;

    QString FFileName;
    QString FError;
};
