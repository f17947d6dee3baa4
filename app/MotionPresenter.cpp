#include "MotionPresenter.h"

#include "ErrorHints.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "PanelParts.h"

#include <QTimer>

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

bool Sent(TStat status)
{
    return status == E_SUCCESS || status == E_CMD_PENDING;
}

}

TMotionPresenter::TMotionPresenter(THXT& gripper, QObject* owner) : QObject(owner), FGripper(gripper)
{
}

QString TMotionPresenter::ResultLine(int id, TStat status) const
{
    return QStringLiteral("Command %1 finished: %2.")
        .arg(Text(CommandName(static_cast<uint8_t>(id))), Text(StatusText(status)));
}

void TMotionPresenter::Finished(int id, TStat status, const TByteArray&)
{
    std::deque<QElapsedTimer>& running = FRunning[id];
    if (running.empty() || !FDetails) {
        if (!running.empty())
            running.pop_front();
        Log(ResultLine(id, status));
        return;
    }
    const double seconds = static_cast<double>(running.front().elapsed()) / 1000.0;
    running.pop_front();
    // This runs inside the gripper object's packet handling, where no request
    // may start: the position is read once it is done.
    QTimer::singleShot(0, this, [this, id, status, seconds] {
        if (FGripper.IsConnected())
            FGripper.GetPosition();
        const bool width = id == CMD_GRASP_RAW || id == CMD_RELEASE_RAW;
        Log(ResultLine(id, status) + QStringLiteral(" %1 %2 mm after %3 s.")
                                         .arg(width ? QStringLiteral("Width") : QStringLiteral("Position"),
                                              FixedText(static_cast<double>(FGripper.Position())), FixedText(seconds)));
    });
}

void TMotionPresenter::StartMotion(uint8_t command, const std::function<TStat(TAsyncResultEvent)>& send,
                                   const QString& prefix)
{
    QElapsedTimer clock;
    clock.start();
    const TStat status =
        send([this](QObject*, int id, TStat final, const TByteArray& data) { Answered(id, final, data); });
    // Only a pending motion gets a final answer.
    if (status == E_CMD_PENDING)
        FRunning[command].push_back(clock);
    if (FGripper.LastTransactionFault() == THXT::NoAnswerText)
        StopUnanswered(command, prefix);
    else
        ReportStart(command, status, prefix);
}

void TMotionPresenter::StopUnanswered(uint8_t command, const QString& prefix)
{
    // The request may have reached the gripper and started the motion:
    // whoever gives up on it stops it first.
    Log(QStringLiteral("Command %1 got no answer: STOP sent because the command got no answer.")
            .arg(Text(CommandName(command))));
    const TStat stopped = FGripper.Stop();
    const std::string fault = FGripper.LastTransactionFault();
    if (fault == THXT::NoAnswerText)
        Log(QStringLiteral("Command STOP got no answer either."));
    else if (!fault.empty())
        Log(QStringLiteral("Command STOP %1.").arg(Text(fault)));
    else if (!Sent(stopped))
        Log(QStringLiteral("Command STOP refused: %1.").arg(Text(StatusText(stopped))));
    if (OnError)
        OnError(prefix + QLatin1String(THXT::NoAnswerText));
}

void TMotionPresenter::Goto(float position, float speed)
{
    StartMotion(CMD_GOTO, [&](TAsyncResultEvent handler) { return FGripper.Goto(position, speed, handler); },
                QStringLiteral("Error while starting to move: "));
}

void TMotionPresenter::Grasp(float position, float speed)
{
    StartMotion(CMD_GRASP_RAW, [&](TAsyncResultEvent handler) { return FGripper.Grasp(position, speed, handler); },
                QStringLiteral("Error while starting to grasp: "));
}

void TMotionPresenter::Release(float position, float speed)
{
    StartMotion(CMD_RELEASE_RAW,
                [&](TAsyncResultEvent handler) { return FGripper.Release(position, speed, handler); },
                QStringLiteral("Error while starting to release: "));
}

void TMotionPresenter::Homing()
{
    StartMotion(CMD_HOMING, [&](TAsyncResultEvent handler) { return FGripper.Homing(0, handler); },
                QStringLiteral("Error while homing: "));
}

void TMotionPresenter::Stop()
{
    ReportStart(CMD_STOP, FGripper.Stop(), QStringLiteral("Error while stopping: "));
}

bool TMotionPresenter::FastStop()
{
    const TStat status = FGripper.FastStop();
    // Deep inside other waits the stop goes out unwaited (E_CMD_PENDING) and
    // counts as done; its answer is handled as any packet when it comes, and
    // the state reports show what the gripper did.
    if (status != E_CMD_PENDING)
        Answered(CMD_FAST_STOP, status, {});
    return Sent(status);
}

bool TMotionPresenter::AcknowledgeFastStop()
{
    const TStat status = FGripper.FastStopAck();
    if (status != E_CMD_PENDING)
        Answered(CMD_FAST_STOP_ACK, status, {});
    return Sent(status);
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
    if (Sent(status) || ReportRefusal(status, prefix) || !OnError)
        return;
    // Nothing usable came back: said so, not as the gripper's own status.
    if (const std::string& fault = FGripper.LastTransactionFault(); !fault.empty())
        OnError(prefix + Text(fault));
    else
        OnError(WithHint(prefix + Text(StatusText(status)), ErrorHint(status, FGripper.SystemState())));
}

void TMotionPresenter::ReportStart(uint8_t command, TStat status, const QString& prefix)
{
    // A command without an answer was not refused.
    if (!Sent(status) && FGripper.LastTransactionFault() == THXT::NoAnswerText)
        Log(QStringLiteral("Command %1 got no answer.").arg(Text(CommandName(command))));
    else if (!Sent(status))
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

void TMotionPresenter::Answered(int id, TStat status, const TByteArray& data)
{
    if (OnResult)
        OnResult(id, status, data);
    else
        Finished(id, status, data);
}

void TMotionPresenter::Log(const QString& line) const
{
    if (OnLog)
        OnLog(line);
}
