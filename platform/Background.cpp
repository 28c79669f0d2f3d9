#include "platform/Background.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>

namespace platform {

static int g_waiting = 0;

void waitFor(const std::function<void()>& work)
{
    std::exception_ptr failure;
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    ++g_waiting;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    --g_waiting;
    if (failure) std::rethrow_exception(failure);
}

bool waiting()
{
    return g_waiting > 0;
}

} // namespace platform
