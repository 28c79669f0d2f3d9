#include "platform/RuntimeError.h"

#include "platform/Background.h"
#include "platform/ModalHost.h"

#include <new>

namespace platform {

RuntimeError::RuntimeError(Number number, QString description, QString path)
    : m_number(number), m_description(std::move(description)), m_path(std::move(path)),
      m_utf8(QStringLiteral("%1: %2").arg(int(number)).arg(m_description).toUtf8())
{
}

void dispatchEvent(const std::function<void()>& handler)
{
    if (waiting()) return; // one handler at a time, even while one waits
    try {
        handler();
    } catch (const RuntimeError& error) {
        modalHost().reportUntrapped(error);
    } catch (const std::bad_alloc&) {
        modalHost().reportUntrapped(
            RuntimeError(RuntimeError::OutOfMemory, QStringLiteral("内存溢出")));
    } catch (const std::exception& error) {
        modalHost().reportUntrapped(RuntimeError(
            RuntimeError::InternalError,
            QStringLiteral("内部错误 (%1)").arg(QString::fromLocal8Bit(error.what()))));
    }
}

} // namespace platform
