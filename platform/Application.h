#pragma once

#include "platform/DataObject.h"

class QApplication;
class QTranslator;

namespace platform {

// The program's application object: the command line, the event loop, its
// name, and Qt's own texts (dialog buttons, file dialog, reader errors) in
// Simplified Chinese to match the window's captions.  --help and --version
// print their text and end the program here.
class Application
{
public:
    Application(int& argc, char** argv, const QString& name);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs the event loop.  A picture named on the command line ("Open
    // with") is first handed to `dropped` as a drop of that one file.
    int exec(const std::function<void(DataObject&)>& dropped);

private:
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QTranslator> m_translator;
    QString m_picture;
};

} // namespace platform
