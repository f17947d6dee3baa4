#include "AnimateThread.h"

#include <algorithm>
#include <utility>

TAnimateThread::TAnimateThread(const TAnimationOptions& options, int from, int to, TClock clock,
                               QObject* parent)
    : QObject(parent), m_from(from), m_to(to), m_current(from), m_clock(std::move(clock))
{
    m_options.Assign(options);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &TAnimateThread::Step);
}

void TAnimateThread::Start()
{
    m_startTime = m_clock();
    m_endTime = m_startTime + m_options.Duration;
    m_timer.start();
}

int TAnimateThread::ValueAt(qint64 now) const
{
    // A clock set back during the animation holds it at its start value.
    const int percent =
        static_cast<int>(std::max<qint64>(now - m_startTime, 0) * 100 / (m_endTime - m_startTime));
    const int distance = m_to - m_from;
    if (!m_options.Quadratic)
        return m_from + percent * distance / 100;
    const double k = distance / 10000.0;
    if (!m_options.EaseOut)
        return m_from + static_cast<int>(percent * percent * k);
    const int fromEnd = percent - 100;
    return m_from + static_cast<int>(distance - k * fromEnd * fromEnd);
}

void TAnimateThread::Step()
{
    const qint64 now = m_clock();
    if (now < m_endTime) {
        m_current = ValueAt(now);
        Apply();
        return;
    }
    m_timer.stop();
    m_current = m_to;
    Apply();
    // Queued on this object: if it is destroyed first, nobody is notified.
    QMetaObject::invokeMethod(
        this, [this] {
            if (OnTerminate)
                OnTerminate();
        },
        Qt::QueuedConnection);
}

void TAnimateThread::Apply()
{
    QWidget* control = m_options.Control;
    if (!control)
        return;
    switch (m_options.AnimatedProperty) {
    case apLeft:
        control->move(m_current, control->y());
        break;
    case apTop:
        control->move(control->x(), m_current);
        break;
    case apWidth:
        control->resize(m_current, control->height());
        break;
    case apHeight:
        control->resize(control->width(), m_current);
        break;
    }
}
