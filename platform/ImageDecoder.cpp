#include "platform/ImageDecoder.h"
#include <QFileInfo>
#include <QImageReader>
namespace platform {
DecodedPicture decodePictureFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return {QImage(), QStringLiteral("Not a file")};
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(1024);
    QImage image = reader.read();
    if (image.isNull())
        return {QImage(), reader.errorString()};
    if (image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    return {image, QString()};
}
}
