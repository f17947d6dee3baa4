#include "CliOutput.h"

#include "CliResultJson.h"
#include "CliSignals.h"

#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

QString FieldsText(const std::vector<TCliField>& fields)
{
    QStringList texts;
    for (const TCliField& field : fields)
        if (!field.JsonOnly)
            texts.append(field.Name + u'=' + field.Text);
    return texts.join(u' ');
}

} // namespace

bool WriteAll(int fd, const QByteArray& bytes)
{
    const int signalsBefore = CliSignalCount();
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n > 0) {
            data += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            // A reader that does not read must not hold up an interrupt.
            if (CliSignalCount() != signalsBefore)
                return true;
            continue;
        }
        if (n == 0)
            errno = EIO;
        return false;
    }
    return true;
}

TCliOutput::TCliOutput(bool json, int outFd, int errFd)
    : FJson(json)
    , FOut(outFd)
    , FErr(errFd)
{
}

void TCliOutput::Result(const TCliResult& result, const QString& where)
{
    if (FFailed)
        return;
    const bool failed = !result.Failure.isEmpty();
    const QString name = failed ? result.FailureName : QString::fromStdString(StatusName(result.Status));
    const QString text = failed ? result.Failure : QString::fromStdString(StatusText(result.Status));
    if (FJson) {
        Out(CompactJson(CliResultJson(result)));
    } else if (result.Status == E_SUCCESS) {
        const QString fields = FieldsText(result.Fields);
        Out(result.Command + QStringLiteral(": ") + text + (fields.isEmpty() ? QString() : QStringLiteral("; ") + fields));
    }
    if (failed && !FFailed)
        Error(QStringLiteral("%1: %2: %3").arg(where, result.Command, text));
    else if (result.Status != E_SUCCESS && !FFailed)
        Error(QStringLiteral("%1: %2: %3: %4").arg(where, result.Command, name, text));
}

void TCliOutput::Report(const QString& time, const QString& report, const std::vector<TCliField>& fields)
{
    if (FFailed)
        return;
    if (FJson) {
        QJsonObject object{{QStringLiteral("command"), QStringLiteral("watch")}, {QStringLiteral("time"), time},
            {QStringLiteral("report"), report}};
        AddCliFields(object, fields);
        Out(CompactJson(object));
    } else {
        Out(QStringLiteral("%1 %2 %3").arg(time, report, FieldsText(fields)));
    }
}

void TCliOutput::Text(const QString& text)
{
    if (!FFailed && !WriteAll(FOut, text.toUtf8()))
        Fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void TCliOutput::Error(const QString& text)
{
    // Nothing is left to tell a failure of standard error to.
    (void)WriteAll(FErr, (QStringLiteral("krm-cli: ") + text + u'\n').toUtf8());
}

bool TCliOutput::CheckReader()
{
    if (FFailed)
        return false;
    pollfd p = {FOut, 0, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        Fail(QStringLiteral("its reader has gone away"));
        return false;
    }
    return true;
}

void TCliOutput::Out(const QString& line)
{
    if (!WriteAll(FOut, (line + u'\n').toUtf8()))
        Fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void TCliOutput::Fail(const QString& text)
{
    if (FFailed)
        return;
    FFailed = true;
    FFailureText = QStringLiteral("standard output: cannot write: ") + text;
    if (OnFailure)
        OnFailure();
}
