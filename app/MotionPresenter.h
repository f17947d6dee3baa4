#pragma once
// Starts the main window's commands on the gripper and tells the window what
// became of them, without widgets: one line in the results log for each
// finished or refused motion, a message for the operator's error box for a
// failed command (with advice where the gripper's state tells the cause),
// and a status-bar notice for a command refused because too many wait for
// their answers.
#include "AsyncResultEventList.h"
#include "stat.h"
#include "types.h"

#include <QString>

#include <cstdint>
#include <functional>

class THXT;

class TMotionPresenter {
public:
    explicit TMotionPresenter(THXT& gripper);

    // The results line of a finished motion command.
    QString ResultLine(int id, TStat status, const TByteArray& data) const;

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

    // A motion command finished (or a fast stop or its acknowledgement was
    // answered): the window writes its results line.
    std::function<void(int id, TStat status, const TByteArray& data)> OnResult;
    std::function<void(const QString& line)> OnLog;
    std::function<void(const QString& text)> OnError;
    std::function<void(const QString& text)> OnNotice;

private:
    // Reports a motion command that did not start, also in the results log.
    void Started(uint8_t command, TStat status, const QString& prefix);
    // A transaction refused for depth goes to the results log and a notice
    // instead of a box (they come in bursts); false for any other status.
    bool ReportRefusal(TStat status, const QString& prefix);
    void Finished(int id, TStat status, const TByteArray& data);
    TAsyncResultEvent ResultHandler();
    void Log(const QString& line) const;

    THXT& FGripper;
};
