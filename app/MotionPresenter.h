#pragma once
// Starts the main window's commands on the gripper and tells the window what
// became of them, without widgets: one line in the results log for each
// finished or refused motion, a message for the operator's error box for a
// failed command (with advice where the gripper's state tells the cause),
// and a status-bar notice for a command refused because too many wait for
// their answers. With details on, a finished motion's line also gives the
// final position (the width for grasp and release), read from the gripper
// once the final answer is handled, and the time from sending the command
// to its final answer.
#include "AsyncResultEventList.h"
#include "stat.h"
#include "types.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>

class THXT;

class TMotionPresenter : public QObject {
    Q_OBJECT
public:
    TMotionPresenter(THXT& gripper, QObject* owner);

    bool Details() const { return FDetails; }
    void SetDetails(bool details) { FDetails = details; }
    // Writes the results line of a finished command: at once, or with
    // details for a motion shortly after, once its position is read.
    void Finished(int id, TStat status, const TByteArray& data);

    void Goto(float position, float speed);
    void Grasp(float position, float speed);
    void Release(float position, float speed);
    void Stop();
    void Homing();
    // True while the stop went out (the Fast Stop button stays pressed).
    bool FastStop();
    // True when the acknowledgement went out (the button is released).
    bool AcknowledgeFastStop();
    void SetAcceleration(float acceleration);
    void SetForceLimit(float force);
    // Shows `prefix` + the status text when `status` is an error.
    void ReportFailure(TStat status, const QString& prefix);

    // A command finished (a motion's final answer, or the answer to a fast
    // stop or its acknowledgement): the window's result handler, which
    // passes it on to Finished.
    std::function<void(int id, TStat status, const TByteArray& data)> OnResult;
    std::function<void(const QString& line)> OnLog;
    std::function<void(const QString& text)> OnError;
    std::function<void(const QString& text)> OnNotice;

private:
    // Sends a motion command through `send` with the result handler; its
    // duration counts from here.
    void StartMotion(uint8_t command, const std::function<TStat(TAsyncResultEvent)>& send, const QString& prefix);
    // A motion command whose first answer never came: STOP, with a results
    // line saying why, and the error for the operator.
    void StopUnanswered(uint8_t command, const QString& prefix);
    // Reports a command that did not start, also in the results log.
    void ReportStart(uint8_t command, TStat status, const QString& prefix);
    // A transaction refused for depth goes to the results log and a notice
    // instead of a box (they come in bursts); false for any other status.
    bool ReportRefusal(TStat status, const QString& prefix);
    void Answered(int id, TStat status, const TByteArray& data);
    QString ResultLine(int id, TStat status) const;
    void Log(const QString& line) const;

    THXT& FGripper;
    bool FDetails = false;
    // When the running motions were sent, by command byte, oldest first (a
    // motion replaced by one of its kind ends first).
    std::map<int, std::deque<QElapsedTimer>> FRunning;
};
