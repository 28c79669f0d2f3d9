// libFuzzer target for the picture decoder: every input is written to a file and decoded as a
// chosen or dropped picture would be. Besides what the sanitizers catch, the outcome must be one
// of the two the window knows: no picture with a reason, or an RGB32 picture without one.

#include "platform/ImageDecoder.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Readers warn about every broken file; at thousands of inputs a second that drowns
    // libFuzzer's own report. Fatal messages still abort.
    qputenv("QT_LOGGING_RULES", "*=false");
    // Qt keeps the argument count by reference: main's own lives as long as the process, and
    // none of libFuzzer's flags is one Qt takes. Never destroyed: libFuzzer leaves through
    // exit(), and the application stays reachable, so no leak is reported.
    new QGuiApplication(*argc, *argv); // metafiles are drawn with fonts
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QFile file(QDir::temp().filePath(QStringLiteral("tessarine-fuzz-%1").arg(QCoreApplication::applicationPid())));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        qFatal("the input could not be written to a file");
    file.close();
    const platform::DecodedPicture decoded = platform::decodePictureFile(file.fileName());
    if (decoded.image.isNull() == decoded.error.isEmpty())
        qFatal("decoding gave a picture together with a reason, or neither");
    if (!decoded.image.isNull() && decoded.image.format() != QImage::Format_RGB32)
        qFatal("decoding gave a picture in another format than RGB32");
    return 0;
}
