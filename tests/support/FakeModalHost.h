#pragma once

#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QString>
#include <QStringList>

// Stands in for the person at the screen: records every message box,
// answers the open dialog from a list of prepared choices ("" cancels) and
// records untrapped errors instead of ending the program.
class FakeModalHost final : public platform::ModalHost
{
public:
    FakeModalHost() : m_previous(platform::setModalHost(this)) {}
    ~FakeModalHost() override { platform::setModalHost(m_previous); }

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

    QStringList choices;
    QStringList boxes;         // the message boxes shown, as "buttons title prompt"
    QStringList details;       // their smaller second texts
    QStringList untrapped;     // "number description" of each untrapped error
    QStringList dialogFolders; // where each open dialog started

private:
    platform::ModalHost* m_previous;
};
