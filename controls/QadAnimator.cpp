#include "QadAnimator.h"

#include <QDateTime>

#include <utility>

namespace {

qint64 WallClock()
{
    return QDateTime::currentMSecsSinceEpoch();
}

}

TQadAnimator::TQadAnimator(QObject* parent) : QObject(parent), m_clock(WallClock)
{
}

bool TQadAnimator::Start(int from, int to)
{
    if (m_thread)
        return false;
    m_thread = new TAnimateThread(m_options, from, to, m_clock, this);
    m_thread->OnTerminate = [this] { FinishHandling(); };
    m_thread->Start();
    return true;
}

void TQadAnimator::SetClock(TAnimateThread::TClock clock)
{
    m_clock = clock ? std::move(clock) : TAnimateThread::TClock(WallClock);
}

void TQadAnimator::FinishHandling()
{
    // Called from the thread object's own queued notification, so it may
    // only be deleted once that call has returned. It is detached first:
    // an OnFinish handler that destroys the animator must not take the
    // object whose call is still running with it.
    m_thread->setParent(nullptr);
    m_thread->deleteLater();
    m_thread = nullptr;
    if (OnFinish)
        OnFinish(this);
}
