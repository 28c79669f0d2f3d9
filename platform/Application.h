#pragma once

#include <QString>

#include <memory>

class QApplication;
class QTranslator;

namespace platform {

// The program's application object: the event loop, its name, and Qt's own
// texts (dialog buttons, file dialog, reader errors) in Simplified Chinese
// to match the window's captions.
class Application
{
public:
    Application(int& argc, char** argv, const QString& name);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    int exec();

private:
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QTranslator> m_translator;
};

} // namespace platform
