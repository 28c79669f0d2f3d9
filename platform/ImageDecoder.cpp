#include "ImageDecoder.h"

#include "decode/HeifDecoder.h"
#include "decode/Limits.h"
#include "decode/Normalize.h"
#include "decode/OpenPictureFile.h"
#include "decode/WmfDecoder.h"

#include <QFile>
#include <QImageReader>

namespace platform {
namespace {

using namespace decode;

// HEIF and WMF keep their whole file in memory while they are decoded; anything this large is
// not a photo or a drawing but a mistake.
constexpr qint64 kMaxWholeFileBytes = qint64(512) * 1024 * 1024;

DecodedPicture failure(QString reason)
{
    return {QImage(), std::move(reason)};
}

DecodedPicture success(QImage image)
{
    return {toOpaqueSrgb(std::move(image)), QString()};
}

DecodedPicture fromDecoded(DecodeResult result)
{
    if (result.image.isNull()) return failure(std::move(result.error));
    return success(std::move(result.image));
}

// An icon file holds the same picture at several sizes; the largest one is the picture, and
// among equally large entries the deepest one. Only the chosen entry is decoded, so a damaged
// largest entry fails instead of quietly giving a smaller picture.
DecodedPicture readLargestIcon(QImageReader& reader)
{
    int best = -1;
    qint64 bestArea = 0;
    int bestDepth = 0;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) break;
        const QSize size = reader.size();
        const qint64 area = qint64(size.width()) * size.height();
        const int depth = QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel();
        if (area > bestArea || (area == bestArea && depth > bestDepth)) {
            best = i;
            bestArea = area;
            bestDepth = depth;
        }
    }
    QImage image;
    if (best < 0 || !reader.jumpToImage(best) || !reader.read(&image))
        return failure(reader.errorString());
    return success(std::move(image));
}

DecodedPicture readWithQt(QFile& file)
{
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead()) return failure(reader.errorString());

    const QByteArray format = reader.format();
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1)
        return readLargestIcon(reader);

    QImage image;
    if (!reader.read(&image)) return failure(reader.errorString());
    return success(std::move(image));
}

} // namespace

DecodedPicture decodePictureFile(const QString& path)
{
    QFile file;
    if (QString reason = openPictureFile(path, file); !reason.isEmpty())
        return failure(std::move(reason));

    // Qt has no reader for HEIF or metafiles, so those two are recognised by their first bytes
    // and go to their own libraries; everything else is Qt's to recognise.
    const QByteArray head = file.peek(kSniffBytes);
    const bool heif = looksLikeHeif(head);
    const bool wmf = !heif && looksLikeWmf(head);
    if (!heif && !wmf) return readWithQt(file);

    if (file.size() > kMaxWholeFileBytes) return failure(QStringLiteral("File is too large"));
    const QByteArray data = file.readAll();
    if (data.size() != file.size()) return failure(file.errorString());
    return fromDecoded(heif ? decodeHeif(data) : decodeWmf(data));
}

} // namespace platform
