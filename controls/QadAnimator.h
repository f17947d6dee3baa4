// Changes one coordinate of a control (left, top, width or height) from one
// value to another over a set time. At most one animation runs at a time;
// OnFinish is fired on the user-interface thread when it has ended.
#pragma once

#include "AnimateThread.h"
#include "AnimationOptions.h"

#include <QObject>

#include <functional>

class TQadAnimator : public QObject {
    Q_OBJECT
public:
    explicit TQadAnimator(QObject* parent = nullptr);

    TAnimationOptions& Options() { return m_options; }
    const TAnimationOptions& Options() const { return m_options; }

    // Starts an animation with a copy of the current options; false (and
    // nothing started) while another one runs.
    bool Start(int from, int to);
    bool IsIdle() const { return m_thread == nullptr; }

    // Replaces the wall clock (milliseconds) used by later animations; an
    // empty function restores the wall clock.
    void SetClock(TAnimateThread::TClock clock);

    std::function<void(QObject* Sender)> OnFinish;

private:
    void FinishHandling();

    TAnimationOptions m_options;
    TAnimateThread* m_thread = nullptr;   // child; destroyed with the animator
    TAnimateThread::TClock m_clock;
};
