// libFuzzer target for the picture decoder: every input is written to a file and decoded as a
// chosen or dropped picture would be. Besides what the sanitizers catch, the outcome must be one
// of the two the window knows: no picture with a reason, or an RGB32 picture without one.

#include "platform/ImageDecoder.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QString g_input;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "decoding gave an impossible outcome: %s\n", what);
    std::abort();
}

// Readers warn about every broken file; at thousands of inputs a second that drowns
// libFuzzer's own report.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(quiet);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt keeps the argument count by reference, so it gets its own. Never destroyed: libFuzzer
    // leaves through exit(), and the application stays reachable, so no leak is reported.
    static int argc = 1;
    static char name[] = "fuzz_loading";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv); // metafiles are drawn with fonts
    const QString folder = QDir::temp().filePath(
        QStringLiteral("tessarine-fuzz-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(folder);
    g_input = folder + QStringLiteral("/picture");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        QFile file(g_input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            fail("the input could not be written to a file");
    }
    const platform::DecodedPicture decoded = platform::decodePictureFile(g_input);
    if (decoded.image.isNull() == decoded.error.isEmpty())
        fail("a picture together with a reason, or neither");
    if (!decoded.image.isNull() && decoded.image.format() != QImage::Format_RGB32)
        fail("a picture in another format than RGB32");
    return 0;
}
