#pragma once

#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QString>
#include <QStringList>

#include <functional>

// Stands in for the person at the screen: records every message box,
// answers the open dialog from a list of prepared choices ("" cancels) and
// records untrapped errors instead of ending the program.
class FakeModalHost final : public platform::ModalHost
{
public:
    FakeModalHost() : m_previous(platform::setModalHost(this)) {}
    ~FakeModalHost() override { platform::setModalHost(m_previous); }

    void messageBox(const QString& prompt, int, const QString&, const QString& detail) override
    {
        prompts << prompt;
        details << detail;
    }

    QString chooseFileToOpen(const QString& folder) override
    {
        dialogFolders << folder;
        const QString chosen = choices.isEmpty() ? QString() : choices.takeFirst();
        if (afterChoosing)
            afterChoosing(chosen);
        return chosen;
    }

    void reportUntrapped(const platform::RuntimeError& error) override
    {
        untrapped << QStringLiteral("%1 %2").arg(int(error.number())).arg(error.description());
    }

    QStringList choices;
    // Runs after a choice was made and before the handler goes on with it:
    // the moment something else may change the file under the program.
    std::function<void(const QString&)> afterChoosing;
    QStringList prompts;       // of the message boxes shown, in order
    QStringList details;       // their smaller second texts
    QStringList untrapped;     // "number description" of each untrapped error
    QStringList dialogFolders; // where each open dialog started

private:
    platform::ModalHost* m_previous;
};
