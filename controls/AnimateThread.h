// One running animation. It computes the coordinate from the clock and
// applies it to the control step after step until the duration has passed,
// then applies the exact end value and sends its end notification.
//
// The steps run on the user-interface thread from a zero-interval timer, so
// each step is applied as soon as the event loop can take it and nothing is
// shared with another thread. Destroying the object stops the animation at
// once without applying further values and without the end notification.
#pragma once

#include "AnimationOptions.h"

#include <QObject>
#include <QTimer>

#include <functional>

class TAnimateThread : public QObject {
    Q_OBJECT
public:
    using TClock = std::function<qint64()>;    // wall-clock time in milliseconds

    TAnimateThread(const TAnimationOptions& options, int from, int to, TClock clock,
                   QObject* parent = nullptr);

    void Start();
    int CurrentValue() const { return m_current; }

    // The animation has applied its end value; delivered from the event
    // loop after the last step, never from inside Start.
    std::function<void()> OnTerminate;

private:
    void Step();
    int ValueAt(qint64 now) const;
    void Apply();

    TAnimationOptions m_options;
    int m_from;
    int m_to;
    int m_current;
    TClock m_clock;
    qint64 m_startTime = 0;
    qint64 m_endTime = 0;
    QTimer m_timer;
};
