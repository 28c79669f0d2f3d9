#include "platform/ModalHost.h"

#include "platform/RuntimeError.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

#include <cstdlib>

namespace platform {
namespace {

class QtModalHost final : public ModalHost
{
public:
    void messageBox(const QString& prompt, int buttons, const QString& title,
                    const QString& detail) override
    {
        QMessageBox box(iconFor(buttons), title, prompt, QMessageBox::Ok,
                        QApplication::activeWindow());
        if (!detail.isEmpty()) box.setInformativeText(detail);
        box.exec(); // never inside a wait, so never under the busy cursor
    }

    QString chooseFileToOpen(const QString& folder) override
    {
        // No title, no filter: every file is listed, as people keep pictures
        // under all kinds of names.
        return QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), folder);
    }

    void reportUntrapped(const RuntimeError& error) override
    {
        messageBox(QStringLiteral("运行时错误 '%1':\n\n%2")
                       .arg(int(error.number()))
                       .arg(error.description()),
                   16, QApplication::applicationName(), QString());
        // Inside the event loop, leaving it lets the program end normally;
        // before the loop runs (during start-up) there is nothing to leave.
        if (QThread::currentThread()->loopLevel() > 0)
            QCoreApplication::exit(EXIT_FAILURE);
        else
            std::exit(EXIT_FAILURE);
    }

private:
    // 16 critical, 32 question, 48 warning, 64 information.
    static QMessageBox::Icon iconFor(int buttons)
    {
        using I = QMessageBox::Icon;
        static constexpr I icons[8] = {I::NoIcon, I::Critical, I::Question, I::Warning,
                                       I::Information}; // the rest: no icon
        return icons[(buttons & 0x70) >> 4];
    }
};

QtModalHost g_qtHost;
ModalHost* g_host = nullptr;

} // namespace

ModalHost& modalHost()
{
    return g_host ? *g_host : g_qtHost;
}

ModalHost* setModalHost(ModalHost* host)
{
    return std::exchange(g_host, host);
}

} // namespace platform
