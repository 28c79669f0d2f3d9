#include "platform/Application.h"

#include "platform/RuntimeError.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

namespace platform {

Application::Application(int& argc, char** argv, const QString& name)
    : m_translator(std::make_unique<QTranslator>())
{
    QApplication::setApplicationName(name);
    QApplication::setApplicationVersion(QStringLiteral(TESSARINE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.tessarine.Tessarine"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Cuts a picture into nine tiles beside it."));
    const QCommandLineOption help = parser.addHelpOption(), version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("picture"), QStringLiteral("A picture to load."),
                                 QStringLiteral("[picture]"));
    // Qt's own options that take a value, which QApplication takes away.
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                             "stylesheet", "qwindowgeometry", "qwindowicon", "qwindowtitle"}) {
        QCommandLineOption option(QString::fromLatin1(name), {}, QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    // --help, --version and a mistake answer without a display (on Windows in a box, as Qt
    // answers for a program without a console); a mistake ends the program with status 2.
    const bool understood = parser.parse(QStringList(argv, argv + argc));
    if (!understood || parser.isSet(help) || parser.isSet(version)) {
        const QCoreApplication console(argc, argv); // names the program in the usage line
        if (!understood) parser.setApplicationDescription(parser.errorText());
        if (understood && parser.isSet(version)) parser.showVersion();
        parser.showHelp(understood ? 0 : 2);
    }
    m_app = std::make_unique<QApplication>(argc, argv);
    parser.process(*m_app);
    m_picture = parser.positionalArguments().value(0);
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    for (const QString& folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath), QStringLiteral(":/translations")})
        if (m_translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QApplication::installTranslator(m_translator.get());
            break;
        }
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
