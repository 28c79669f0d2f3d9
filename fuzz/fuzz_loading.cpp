// libFuzzer target for the picture decoder: every input is written to a file and decoded as a
// chosen or dropped picture would be. Besides what the sanitizers catch, the outcome must be one
// of the two the window knows: no picture with a reason, or an RGB32 picture without one. Most
// formats are decoded in a process of their own (this target started again), where the window
// takes a crash for a picture that cannot be loaded; here it is a finding, the sanitizer's
// report above it.

#include "platform/ImageDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Readers warn about every broken file; at thousands of inputs a second that drowns
    // libFuzzer's own report. Fatal messages still abort.
    qputenv("QT_LOGGING_RULES", "*=false");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QFile file(QDir::temp().filePath(
        QStringLiteral("tessarine-fuzz-%1").arg(QCoreApplication::applicationPid())));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        qFatal("the input could not be written to a file");
    file.close();
    const platform::DecodedPicture decoded = platform::decodePictureFile(file.fileName());
    if (decoded.error == QStringLiteral("解码图片时出错")) qFatal("the decoding process crashed");
    if (decoded.image.isNull() == decoded.error.isEmpty())
        qFatal("decoding gave a picture together with a reason, or neither");
    if (!decoded.image.isNull() && decoded.image.format() != QImage::Format_RGB32)
        qFatal("decoding gave a picture in another format than RGB32");
    return 0;
}
