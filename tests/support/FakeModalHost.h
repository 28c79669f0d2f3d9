#pragma once

#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Stands in for the person at the screen: records every message box,
// answers the open dialog from a list of prepared choices ("" cancels) and
// records untrapped errors instead of ending the program.
class FakeModalHost final : public platform::ModalHost
{
public:
    struct Message
    {
        QString prompt;
        int buttons;
        QString title;
        QString detail;
    };

    FakeModalHost() : m_previous(platform::setModalHost(this)) {}
    ~FakeModalHost() override { platform::setModalHost(m_previous); }

    void messageBox(const QString& prompt, int buttons, const QString& title,
                    const QString& detail) override
    {
        messages.push_back({prompt, buttons, title, detail});
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
    std::vector<Message> messages;
    QStringList untrapped;
    QStringList dialogFolders; // where each open dialog started

private:
    platform::ModalHost* m_previous;
};
