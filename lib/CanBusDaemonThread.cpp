// A program that uses the library usually has no QCoreApplication, and a
// plain QThread delivers no events without one. The library therefore runs
// the CAN bus thread as Qt's daemon thread, which needs none; it is the one
// place that reaches into Qt's private interface for that, so the programs
// built on the transports alone use public Qt only.
#include "CanBusThread.h"

#include <QtCore/private/qthread_p.h>

namespace {

QThread* MakeDaemonThread() { return new QDaemonThread; }

// Set when the library is loaded, before any session can open a CAN net.
const bool DaemonThreadSet = [] {
    TCanBusThread::SetThreadMaker(&MakeDaemonThread);
    return true;
}();

} // namespace
