#include "platform/Application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace platform {

Application::Application(int& argc, char** argv, const QString& name)
    : m_app(std::make_unique<QApplication>(argc, argv)),
      m_translator(std::make_unique<QTranslator>())
{
    QApplication::setApplicationName(name);
    QApplication::setDesktopFileName(QStringLiteral("org.tessarine.Tessarine"));
    if (m_translator->load(
            QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China),
            QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(m_translator.get());
}

Application::~Application() = default;

int Application::exec()
{
    return QApplication::exec();
}

} // namespace platform
