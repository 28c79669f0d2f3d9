#pragma once

#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QString>
#include <QStringList>

#include <functional>

#include <vector>

// Stands in for the person at the screen: records every message box,
// answers the open dialog from a list of prepared choices ("" cancels) and
// records untrapped errors instead of ending the test.
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

    FakeModalHost();
    ~FakeModalHost() override;

    void messageBox(const QString& prompt, int buttons, const QString& title,
                    const QString& detail) override;
    QString chooseFileToOpen() override;
    void reportUntrapped(const platform::RuntimeError& error) override;

    QStringList choices;
    // Runs after a choice was made and before the handler goes on with it:
    // the moment something else may change the file under the program.
    std::function<void(const QString&)> afterChoosing;
    std::vector<Message> messages;
    QStringList untrapped;
    int dialogsShown = 0;

private:
    platform::ModalHost* m_previous;
};
