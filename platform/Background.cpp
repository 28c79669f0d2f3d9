#include "platform/Background.h"

#include "platform/RuntimeError.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

namespace platform {

static int g_waiting = 0;

// Work asked for from inside a wait is on the worker already and runs there.  A thread that
// cannot be had (a process or cgroup limit) is memory that ran out, in the handler that asked.
// After the program has been told to quit, an event loop returns at once: the wait then
// blocks until the work is done, and the quit is carried out afterwards.
void waitFor(const std::function<void()>& work)
{
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return work();
    std::exception_ptr failure;
    std::atomic<bool> done = false;
    QEventLoop loop;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            done = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        throw RuntimeError(RuntimeError::OutOfMemory, QStringLiteral("内存不足"));
    }
    ++g_waiting;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    while (!done && loop.exec(QEventLoop::ExcludeUserInputEvents) == 0) {
    }
    worker.join();
    QGuiApplication::restoreOverrideCursor();
    --g_waiting;
    if (failure) std::rethrow_exception(failure);
}

bool waiting()
{
    return g_waiting > 0;
}

} // namespace platform
