#pragma once

#include <QString>

namespace platform {

class RuntimeError;

// The services that wait for a person: message boxes, the open dialog and the
// report of an untrapped error.  The program uses real Qt dialogs; a test
// installs its own host so that handlers run without anybody at the screen.
class ModalHost
{
public:
    virtual ~ModalHost() = default;

    // Shows a modal box with an OK button; `buttons` 16 = critical icon,
    // 64 = information icon.  `detail`, when not empty, is shown under the
    // prompt in smaller type.
    virtual void messageBox(const QString& prompt, int buttons, const QString& title,
                            const QString& detail) = 0;
    // Lets the person choose one existing file, starting in `folder`; an
    // empty string on cancel.
    virtual QString chooseFileToOpen(const QString& folder) = 0;
    // Reports an error that no handler trapped, then ends the program.
    virtual void reportUntrapped(const RuntimeError& error) = 0;
};

// The host in use; the real dialogs unless a test installed another.
[[nodiscard]] ModalHost& modalHost();
// Installs `host` (nullptr restores the real dialogs) and returns the previous one.
ModalHost* setModalHost(ModalHost* host);

} // namespace platform
