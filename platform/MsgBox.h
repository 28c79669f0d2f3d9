#pragma once

#include "platform/ModalHost.h"

namespace platform {

// A modal message box with an OK button.  buttons: 16 critical icon,
// 64 information icon.  `detail` adds a smaller second text under the prompt.
inline void MsgBox(const QString& prompt, int buttons, const QString& title,
                   const QString& detail = QString())
{
    modalHost().messageBox(prompt, buttons, title, detail);
}

} // namespace platform
