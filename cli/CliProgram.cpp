#include "CliProgram.h"

#include "CliSyntax.h"
#include "UsageError.h"

#include <QFile>

#include <climits>
#include <cstdio>
#include <utility>

namespace {

constexpr QChar Quote = u'"';
constexpr QChar Comment = u'#';

QStringList SplitWords(const QString& line)
{
    QStringList words;
    QString word;
    bool quoted = false;
    for (const QChar c : line) {
        if (!quoted && c == Comment)
            break;
        if (c == Quote)
            quoted = !quoted;
        if (!quoted && c.isSpace()) {
            if (!word.isEmpty())
                words.append(std::exchange(word, QString()));
            continue;
        }
        word += c;
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

QString ReadScript(const QString& path, const QString& where)
{
    QFile file;
    const bool fromStdin = path == QLatin1String("-");
    const bool opened = fromStdin ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened)
        throw TUsageError(QStringLiteral("%1: run: cannot read \"%2\": %3").arg(where, path, file.errorString()));
    return QString::fromUtf8(file.readAll());
}

// Turns lines into steps; Block reads from the current line on until the
// `end` of the block opened at `opener`, or to the last line at the top.
class TProgramBuilder {
public:
    TProgramBuilder(const std::vector<TCliLine>& lines, bool inScript)
        : FLines(lines)
        , FInScript(inScript)
    {
    }

    TCliProgram Build() { return Block(nullptr); }

private:
    TCliProgram Block(const TCliLine* opener)
    {
        TCliProgram steps;
        while (FPos < FLines.size()) {
            const TCliLine& line = FLines[FPos++];
            const QString& word = line.Words.first();
            if (word == QLatin1String("end")) {
                if (!opener)
                    throw TUsageError(QStringLiteral("%1: end without repeat").arg(line.Where));
                if (line.Words.size() > 1)
                    throw TUsageError(QStringLiteral("%1: end: unexpected argument \"%2\"").arg(line.Where, line.Words[1]));
                return steps;
            }
            if (word == QLatin1String("repeat"))
                steps.push_back(Repeat(line));
            else if (word == QLatin1String("run"))
                Run(line, steps);
            else
                steps.push_back(TCliStep{false, ParseCliCommand(line.Words, line.Where), 0, {}});
        }
        if (opener)
            throw TUsageError(QStringLiteral("%1: repeat without end").arg(opener->Where));
        return steps;
    }

    TCliStep Repeat(const TCliLine& line)
    {
        if (line.Words.size() < 2)
            throw TUsageError(QStringLiteral("%1: repeat: missing argument N").arg(line.Where));
        if (line.Words.size() > 2)
            throw TUsageError(QStringLiteral("%1: repeat: unexpected argument \"%2\"").arg(line.Where, line.Words[2]));
        const auto count = ParseCliInteger(line.Words[1], 0, INT_MAX);
        if (!count)
            throw TUsageError(
                QStringLiteral("%1: repeat: N \"%2\" is not a whole number (0 or more)").arg(line.Where, line.Words[1]));
        TCliStep step;
        step.IsRepeat = true;
        step.Count = *count;
        step.Body = Block(&line);
        return step;
    }

    void Run(const TCliLine& line, TCliProgram& steps)
    {
        if (FInScript)
            throw TUsageError(QStringLiteral("%1: run cannot be used inside a script").arg(line.Where));
        if (line.Words.size() != 2)
            throw TUsageError(line.Words.size() < 2 ? QStringLiteral("%1: run: missing argument FILE").arg(line.Where)
                                                    : QStringLiteral("%1: run: unexpected argument \"%2\"").arg(line.Where, line.Words[2]));
        const QString& path = line.Words[1];
        const QString name = path == QLatin1String("-") ? QStringLiteral("stdin") : path;
        const TCliProgram script = TProgramBuilder(SplitScript(ReadScript(path, line.Where), name), true).Build();
        steps.insert(steps.end(), script.begin(), script.end());
    }

    const std::vector<TCliLine>& FLines;
    const bool FInScript;
    size_t FPos = 0;
};

} // namespace

std::vector<TCliLine> SplitScript(const QString& text, const QString& name)
{
    std::vector<TCliLine> lines;
    const QStringList rows = text.split(u'\n');
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QStringList words = SplitWords(rows[i]);
        if (!words.isEmpty())
            lines.push_back({std::move(words), QStringLiteral("%1:%2").arg(name).arg(i + 1)});
    }
    return lines;
}

std::vector<TCliLine> SplitCommandLine(const QStringList& words)
{
    std::vector<TCliLine> lines;
    QStringList current;
    const auto close = [&] {
        const QString where = QStringLiteral("command %1").arg(lines.size() + 1);
        if (current.isEmpty())
            throw TUsageError(QStringLiteral("%1: missing command (a \",\" with nothing before or after it)").arg(where));
        lines.push_back({std::exchange(current, {}), where});
    };
    for (const QString& word : words) {
        if (word == QLatin1String(","))
            close();
        else
            current.append(word);
    }
    close();
    return lines;
}

TCliProgram BuildCliProgram(const std::vector<TCliLine>& lines)
{
    return TProgramBuilder(lines, false).Build();
}
