#include "platform/Application.h"

#include "platform/RuntimeError.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <malloc.h>

namespace platform {

Application::Application(int& argc, char** argv, const QString& name)
    : m_translator(std::make_unique<QTranslator>())
{
    // Blocks of a megabyte or more come from the system and go back to it when freed. Left to
    // itself, glibc raises that threshold after the first such block is freed and keeps later
    // ones in its heap: a second turned photo then held 11 MiB more at its peak.
    ::mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    QApplication::setApplicationName(name);
    QApplication::setApplicationVersion(QStringLiteral(TESSARINE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.tessarine.Tessarine"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Cuts a picture into nine tiles beside it."));
    const QCommandLineOption help = parser.addHelpOption(), version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("picture"), QStringLiteral("A picture to load."),
                                 QStringLiteral("[picture]"));
    // --help and --version answer without a display; the rest waits until
    // Qt has taken its own options (-platform …) away.
    parser.parse(QStringList(argv, argv + argc));
    if (parser.isSet(help) || parser.isSet(version)) {
        const QCoreApplication console(argc, argv); // names the program in the usage line
        parser.isSet(help) ? parser.showHelp() : parser.showVersion();
    }
    m_app = std::make_unique<QApplication>(argc, argv);
    parser.process(*m_app);
    m_picture = parser.positionalArguments().value(0);
    if (m_translator->load(
            QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China),
            QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(m_translator.get());
}

Application::~Application() = default;

// A picture named on the command line ("Open with") is handed to `dropped`
// as a drop of that one file, once the window shows.
int Application::exec(const std::function<void(DataObject&)>& dropped)
{
    DataObject data({QDir::toNativeSeparators(QDir::current().absoluteFilePath(m_picture))});
    if (!m_picture.isEmpty())
        QTimer::singleShot(0, m_app.get(), [&] { dispatchEvent([&] { dropped(data); }); });
    return QApplication::exec();
}

} // namespace platform
