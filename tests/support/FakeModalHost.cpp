#include "support/FakeModalHost.h"

FakeModalHost::FakeModalHost() : m_previous(platform::setModalHost(this)) {}

FakeModalHost::~FakeModalHost()
{
    platform::setModalHost(m_previous);
}

void FakeModalHost::messageBox(const QString& prompt, int buttons, const QString& title,
                               const QString& detail)
{
    messages.push_back({prompt, buttons, title, detail});
}

QString FakeModalHost::chooseFileToOpen()
{
    ++dialogsShown;
    const QString chosen = choices.isEmpty() ? QString() : choices.takeFirst();
    if (afterChoosing)
        afterChoosing(chosen);
    return chosen;
}

void FakeModalHost::reportUntrapped(const platform::RuntimeError& error)
{
    untrapped << error.description();
}
