#pragma once

#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QStringList>

// Stands in for the person at the screen: records every message box,
// answers the open dialog from a list of prepared choices ("" cancels) and
// records untrapped errors instead of ending the program.
struct FakeModalHost final : platform::ModalHost
{
    FakeModalHost() : previous(platform::setModalHost(this)) {}
    ~FakeModalHost() override { platform::setModalHost(previous); }

    void messageBox(const QString& prompt, int buttons, const QString& title,
                    const QString& detail) override
    {
        boxes << QStringLiteral("%1 %2 %3").arg(buttons).arg(title, prompt);
        details << detail;
    }

    QString chooseFileToOpen(const QString& folder) override
    {
        dialogFolders << folder;
        return choices.isEmpty() ? QString() : choices.takeFirst();
    }

    void reportUntrapped(const platform::RuntimeError& error) override
    {
        untrapped << QStringLiteral("%1 %2").arg(int(error.number())).arg(error.description());
    }

    // The choices still to make; the message boxes shown, as "buttons title prompt", and their
    // smaller second texts; "number description" of each untrapped error; where each open
    // dialog started.
    QStringList choices, boxes, details, untrapped, dialogFolders;
    platform::ModalHost* const previous;
};
