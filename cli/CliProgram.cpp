#include "CliProgram.h"

#include "CliScriptReader.h"
#include "CliSignals.h"
#include "CliSyntax.h"
#include "UsageError.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace {

constexpr QChar Quote = u'"';
constexpr QChar Comment = u'#';

} // namespace

QStringList SplitCliWords(const QString& line)
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

TCliProgramBuilder::TCliProgramBuilder(TSource source)
    : FInScript(source == TSource::Script)
{
}

void TCliProgramBuilder::Add(const TCliLine& line)
{
    const QString& word = line.Words.first();
    if (word == QLatin1String("end"))
        AddEnd(line);
    else if (word == QLatin1String("repeat"))
        AddRepeat(line);
    else if (word == QLatin1String("run"))
        AddRun(line);
    else
        FSteps.push_back({TCliStepKind::Command, ParseCliCommand(line.Words, line.Where), 0, 0});
}

void TCliProgramBuilder::AddRepeat(const TCliLine& line)
{
    if (line.Words.size() < 2)
        throw TUsageError(QStringLiteral("%1: repeat: missing argument N").arg(line.Where));
    if (line.Words.size() > 2)
        throw TUsageError(QStringLiteral("%1: repeat: unexpected argument \"%2\"").arg(line.Where, line.Words[2]));
    const auto count = ParseCliInteger(line.Words[1], 0, INT_MAX);
    if (!count)
        throw TUsageError(QStringLiteral("%1: repeat: N \"%2\" is not a whole number (0 or more)").arg(line.Where, line.Words[1]));
    if (Depth() >= MaxRepeatDepth)
        throw TUsageError(
            QStringLiteral("%1: repeat: more than %2 repeat blocks inside one another").arg(line.Where).arg(MaxRepeatDepth));
    TCliStep step;
    step.Kind = TCliStepKind::Repeat;
    step.Command.Name = QStringLiteral("repeat");
    step.Command.Where = line.Where;
    step.Count = *count;
    FOpen.push_back(FSteps.size());
    FSteps.push_back(std::move(step));
}

void TCliProgramBuilder::AddEnd(const TCliLine& line)
{
    if (FOpen.size() <= FBase)
        throw TUsageError(QStringLiteral("%1: end without repeat").arg(line.Where));
    if (line.Words.size() > 1)
        throw TUsageError(QStringLiteral("%1: end: unexpected argument \"%2\"").arg(line.Where, line.Words[1]));
    const size_t opener = FOpen.back();
    FOpen.pop_back();
    TCliStep step;
    step.Kind = TCliStepKind::End;
    step.Command.Name = QStringLiteral("end");
    step.Command.Where = line.Where;
    step.Partner = opener;
    FSteps[opener].Partner = FSteps.size();
    FSteps.push_back(std::move(step));
}

void TCliProgramBuilder::AddRun(const TCliLine& line)
{
    if (FInScript)
        throw TUsageError(QStringLiteral("%1: run cannot be used inside a script").arg(line.Where));
    if (line.Words.size() != 2)
        throw TUsageError(line.Words.size() < 2 ? QStringLiteral("%1: run: missing argument FILE").arg(line.Where)
                                                : QStringLiteral("%1: run: unexpected argument \"%2\"").arg(line.Where, line.Words[2]));
    const QString& path = line.Words[1];
    if (path != QLatin1String("-")) {
        ReadScript(path, line.Where);
        return;
    }
    if (Depth() > 0)
        throw TUsageError(QStringLiteral("%1: run -: standard input is read once, as it arrives, so it cannot be inside a repeat block")
                              .arg(line.Where));
    TCliStep step;
    step.Kind = TCliStepKind::Stdin;
    step.Command.Name = QStringLiteral("run");
    step.Command.Where = line.Where;
    FSteps.push_back(std::move(step));
}

void TCliProgramBuilder::CountScriptLine(qsizetype bytes, const QString& where)
{
    FScriptBytes += bytes;
    ++FScriptLines;
    if (FScriptLines > MaxScriptLines)
        throw TUsageError(QStringLiteral("%1: more than %2 script lines in one run").arg(where).arg(MaxScriptLines));
    if (FScriptBytes > MaxScriptBytes)
        throw TUsageError(QStringLiteral("%1: more than %2 bytes (4 MiB) of scripts in one run").arg(where).arg(MaxScriptBytes));
}

void TCliProgramBuilder::ReadScript(const QString& path, const QString& where)
{
    const int fd = TCliScriptReader::OpenFile(path);
    if (fd < 0)
        throw TUsageError(
            QStringLiteral("%1: run: cannot read \"%2\": %3").arg(where, path, QString::fromLocal8Bit(std::strerror(errno))));
    TCliScriptReader reader(fd, true);
    const size_t outerBase = std::exchange(FBase, FOpen.size());
    FInScript = true;
    QByteArray bytes;
    for (;;) {
        const TCliScriptReader::TRead read = reader.Next(bytes);
        const QString here = QStringLiteral("%1:%2").arg(path).arg(reader.LineNumber());
        if (read == TCliScriptReader::TRead::End)
            break;
        switch (read) {
        case TCliScriptReader::TRead::NeedMore:
            if (!reader.WaitReadable())
                throw TCliInterrupted{CliLastSignal()};
            continue;
        case TCliScriptReader::TRead::TooLong:
            throw TUsageError(QStringLiteral("%1: line longer than %2 bytes").arg(here).arg(TCliScriptReader::MaxLineBytes));
        case TCliScriptReader::TRead::Failed:
            throw TUsageError(QStringLiteral("%1: run: cannot read \"%2\": %3").arg(where, path, reader.ErrorText()));
        default:
            break;
        }
        CountScriptLine(bytes.size() + 1, here);
        QStringList words = SplitCliWords(QString::fromUtf8(bytes));
        if (!words.isEmpty())
            Add({std::move(words), here});
    }
    if (FOpen.size() > FBase)
        throw TUsageError(QStringLiteral("%1: repeat without end").arg(FSteps[FOpen.back()].Command.Where));
    FBase = outerBase;
    FInScript = false;
}

TCliProgram TCliProgramBuilder::Finish()
{
    if (!FOpen.empty())
        throw TUsageError(QStringLiteral("%1: repeat without end").arg(FSteps[FOpen.back()].Command.Where));
    return std::move(FSteps);
}

TCliProgram BuildCliProgram(const std::vector<TCliLine>& lines)
{
    TCliProgramBuilder builder(TCliProgramBuilder::TSource::CommandLine);
    for (const TCliLine& line : lines)
        builder.Add(line);
    return builder.Finish();
}
