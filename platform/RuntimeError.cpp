#include "platform/RuntimeError.h"

#include "platform/ModalHost.h"

namespace platform {

RuntimeError::RuntimeError(Number number, QString description, QString path)
    : m_number(number), m_description(std::move(description)), m_path(std::move(path)),
      m_utf8(QStringLiteral("%1: %2").arg(int(number)).arg(m_description).toUtf8())
{
}

void dispatchEvent(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const RuntimeError& error) {
        modalHost().reportUntrapped(error);
    }
}

} // namespace platform
