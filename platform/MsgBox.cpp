#include "platform/MsgBox.h"

#include "platform/ModalHost.h"

namespace platform {

void MsgBox(const QString& prompt, int buttons, const QString& title, const QString& detail)
{
    modalHost().messageBox(prompt, buttons, title, detail);
}

} // namespace platform
