#include "MotionPresenter.h"

#include "ErrorHints.h"
#include "HXTForm.h"
#include "HXT_commands.h"

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

}

TMotionPresenter::TMotionPresenter(THXT& gripper) : FGripper(gripper)
{
}

QString TMotionPresenter::ResultLine(int id, TStat status, const TByteArray&) const
{
    return QStringLiteral("Command %1 finished: %2.")
        .arg(Text(CommandName(static_cast<uint8_t>(id))), Text(StatusText(status)));
}

void TMotionPresenter::Goto(float position, float speed)
{
    Started(CMD_GOTO, FGripper.Goto(position, speed, ResultHandler()), QStringLiteral("Error while starting to move: "));
}

void TMotionPresenter::Grasp(float position, float speed)
{
    Started(CMD_GRASP_RAW, FGripper.Grasp(position, speed, ResultHandler()),
            QStringLiteral("Error while starting to grasp: "));
}

void TMotionPresenter::Release(float position, float speed)
{
    Started(CMD_RELEASE_RAW, FGripper.Release(position, speed, ResultHandler()),
            QStringLiteral("Error while starting to release: "));
}

void TMotionPresenter::Stop()
{
    Started(CMD_STOP, FGripper.Stop(), QStringLiteral("Error while stopping: "));
}

void TMotionPresenter::Homing()
{
    Started(CMD_HOMING, FGripper.Homing(0, ResultHandler()), QStringLiteral("Error while homing: "));
}

bool TMotionPresenter::FastStop()
{
    const TStat status = FGripper.FastStop();
    // Deep inside other waits the stop goes out unwaited (E_CMD_PENDING) and
    // counts as done; its answer is handled as any packet when it comes, and
    // the state reports show what the gripper did.
    if (status != E_CMD_PENDING)
        Finished(CMD_FAST_STOP, status, {});
    return status == E_SUCCESS || status == E_CMD_PENDING;
}

bool TMotionPresenter::AcknowledgeFastStop()
{
    const TStat status = FGripper.FastStopAck();
    if (status != E_CMD_PENDING)
        Finished(CMD_FAST_STOP_ACK, status, {});
    return status == E_SUCCESS || status == E_CMD_PENDING;
}

void TMotionPresenter::SetAcceleration(float acceleration)
{
    ReportFailure(FGripper.SetAcceleration(acceleration), QStringLiteral("Error while setting acceleration: "));
}

void TMotionPresenter::SetForceLimit(float force)
{
    ReportFailure(FGripper.SetForceLimit(force), QStringLiteral("Error while setting grasping force: "));
}

void TMotionPresenter::ReportFailure(TStat status, const QString& prefix)
{
    if (status != E_SUCCESS && status != E_CMD_PENDING && !ReportRefusal(status, prefix) && OnError)
        OnError(WithHint(prefix + Text(StatusText(status)), ErrorHint(status, FGripper.SystemState())));
}

void TMotionPresenter::Started(uint8_t command, TStat status, const QString& prefix)
{
    if (status != E_SUCCESS && status != E_CMD_PENDING)
        Log(QStringLiteral("Command %1 refused: %2.").arg(Text(CommandName(command)), Text(StatusText(status))));
    ReportFailure(status, prefix);
}

bool TMotionPresenter::ReportRefusal(TStat status, const QString& prefix)
{
    if (status != THXT::TransactionRefused || !FGripper.LastTransactionRefused())
        return false;
    Log(prefix + QLatin1String(THXT::RefusedText) + QLatin1Char('.'));
    if (OnNotice)
        OnNotice(QStringLiteral("Command not sent: too many commands are waiting for their answers."));
    return true;
}

void TMotionPresenter::Finished(int id, TStat status, const TByteArray& data)
{
    if (OnResult)
        OnResult(id, status, data);
}

TAsyncResultEvent TMotionPresenter::ResultHandler()
{
    return [this](QObject*, int id, TStat status, const TByteArray& data) { Finished(id, status, data); };
}

void TMotionPresenter::Log(const QString& line) const
{
    if (OnLog)
        OnLog(line);
}
