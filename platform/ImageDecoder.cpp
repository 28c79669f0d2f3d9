#include "decode/Decoders.h"

#include <QColorSpace>
#include <QImageReader>
#include <QPainter>
#include <QtEndian>

namespace platform {
namespace {

using namespace decode;

bool needsColourConversion(const QColorSpace& space)
{
    // Untagged pictures are taken as sRGB; a profile Qt cannot use is treated the same way.
    return space.isValid() && space != QColorSpace(QColorSpace::SRgb);
}

// Brings whatever a reader produced into the one shape the rest of the program handles:
// Format_RGB32, sRGB, every pixel opaque (transparency composited over white).
// An untagged or sRGB Format_RGB32 image is returned untouched, without a copy.
QImage toOpaqueSrgb(QImage image)
{
    const bool recolour = needsColourConversion(image.colorSpace());
    if (image.format() == QImage::Format_RGB32 && !recolour) return image;

    const bool hasAlpha = image.hasAlphaChannel();
    const QColorSpace srgb(QColorSpace::SRgb);
    if (recolour && image.depth() > 32) {
        // Sixteen-bit sources keep their precision through the colour transform and are only
        // reduced to eight bits afterwards.
        image.convertTo(hasAlpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        image.convertToColorSpace(srgb);
    }
    image.convertTo(hasAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (needsColourConversion(image.colorSpace())) image.convertToColorSpace(srgb);
    if (!hasAlpha) return image;
    // Only pictures decoded in their own process have alpha (JPEGs have none), so a second
    // buffer costs the window nothing. Over white, premultiplied pixels become exactly
    // colour + (255 - alpha).
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, image);
    return flat;
}

DecodedPicture success(QImage image, QImageIOHandler::Transformations turn = {})
{
    // Some of Qt's readers (MNG) report success with no picture.
    if (image.isNull()) return failure(QStringLiteral("图片无法解码"));
    return {toOpaqueSrgb(std::move(image)), QString(), turn};
}

DecodedPicture fromDecoded(DecodedPicture result)
{
    if (result.image.isNull()) return failure(std::move(result.error));
    return success(std::move(result.image), result.turn);
}

// Qt's reader explains itself in English unless a translator is installed; the user reads ours.
DecodedPicture readerFailure(const QImageReader& reader)
{
    static_assert(QImageReader::InvalidDataError == 4); // the last of ImageReaderError
    static constexpr const char* reasons[] = {"图片无法解码", "图片无法解码", "读取文件出错",
                                              "无法识别的图片格式", "图片数据已损坏"};
    return failure(QString::fromUtf8(reasons[std::clamp(int(reader.error()), 0, 4)]));
}

// An icon file holds the same picture at several sizes; the largest one is the picture, and
// among equally large entries the deepest one. Only the chosen entry is decoded, so a damaged
// largest entry fails instead of quietly giving a smaller picture.
DecodedPicture readLargestIcon(QImageReader& reader)
{
    int best = -1;
    std::pair<qint64, int> bestAreaAndDepth{0, 0};
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QSize size = reader.size();
        const std::pair<qint64, int> areaAndDepth{
            qint64(size.width()) * size.height(),
            QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel()};
        if (areaAndDepth > bestAreaAndDepth) {
            best = i;
            bestAreaAndDepth = areaAndDepth;
        }
    }
    QImage image;
    if (best < 0 || !reader.jumpToImage(best) || !reader.read(&image)) return readerFailure(reader);
    return success(std::move(image));
}

// White x, y, then red, green and blue x, y of sRGB (D65, BT.709 primaries), in units of
// 1/100000 as PNG stores them.
constexpr qint64 kSrgbChromaticities[8] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};

// True for a PNG whose colour chunks (before its pixels, within `head`) only restate sRGB: a
// gAMA of 1/2.2, cHRM absent or holding sRGB's primaries, and no iCCP or sRGB chunk. Such files
// are what most tools write for plain sRGB pixels; reading their 2.2 curve as a different
// transfer function than sRGB's would darken every shadow. libpng itself corrects gamma only
// when file gamma times display gamma (2.2: 1/45455 in PNG's units) strays more than 5 % from
// one, and takes chromaticities within 0.001 as sRGB's.
bool pngMeansSrgb(const QByteArray& head)
{
    const auto number = [&](qsizetype at) {
        return qint64(qFromBigEndian<quint32>(head.data() + at));
    };
    bool gamma = false;
    for (qsizetype at = 8; head.startsWith("\x89PNG\r\n\x1a\n") && at + 8 <= head.size();) {
        const qsizetype length = number(at), data = at + 8;
        const QByteArray type = head.mid(at + 4, 4);
        if (type == "IDAT" || data + length > head.size() || type == "iCCP" || type == "sRGB")
            return gamma && type == "IDAT";
        if (type == "gAMA" && length == 4)
            gamma = std::llabs(number(data) * 100000 / 45455 - 100000) <= 5000;
        for (int i = 0; type == "cHRM" && i < 8; ++i)
            if (length != 32 || std::llabs(number(data + 4 * i) - kSrgbChromaticities[i]) > 100)
                return false;
        at = data + length + 4;
    }
    return false;
}

DecodedPicture readWithQt(QFile& file)
{
    const bool pngInSrgb = pngMeansSrgb(file.peek(64 * 1024));
    if (QImage png = readPngFirst(file, pngInSrgb); !png.isNull()) return success(std::move(png));
    if (!file.seek(0)) return failure(QStringLiteral("读取文件出错"));
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead()) return readerFailure(reader);
    const QByteArray format = reader.format();
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1)
        return readLargestIcon(reader);

    QImage image;
    if (!reader.read(&image)) return readerFailure(reader);
    // Qt turns gAMA into a 2.2 curve, which is not sRGB's; the file meant sRGB.
    if (pngInSrgb) image.setColorSpace(QColorSpace());
    return success(std::move(image));
}

// True when a decoder has decided: a picture, or a reason there is none.
bool settled(const DecodedPicture& decoded)
{
    return !decoded.image.isNull() || !decoded.error.isEmpty();
}

} // namespace

namespace decode {
DecodedPicture decodeOpenFile(QFile& file)
{
    // Qt has no reader for HEIF or metafiles, so those are recognised by their first bytes and
    // go to their own libraries, as do the JPEGs and bit-field bitmaps we read better than Qt;
    // everything else is Qt's to recognise.
    const QByteArray head = file.peek(kSniffBytes);
    if (DecodedPicture jpeg; looksLikeJpeg(head) && settled(jpeg = readJpeg(file, false)))
        return fromDecoded(std::move(jpeg));
    if (!file.seek(0)) return failure(QStringLiteral("读取文件出错"));
    auto* decoder = looksLikeHeif(head) ? decodeHeif : looksLikeWmf(head) ? decodeWmf : nullptr;
    if (!decoder && looksLikeEmf(head)) decoder = decodeEmf;
    if (isBitfieldBmp(head)) decoder = decodeBitfieldBmp;
    if (!decoder) return readWithQt(file);
    const QByteArray data = file.readAll();
    if (data.size() != file.size()) return failure(QStringLiteral("读取文件出错"));
    return fromDecoded(decoder(data));
}
} // namespace decode

DecodedPicture decodePictureFile(const QString& path)
{
    // Pictures stored inside the program (":/thanks.jpg") are Qt resources, not files on disk.
    const bool stored = path.startsWith(QLatin1String(":/"));
    QFile file(stored ? path : QString());
    if (stored && !file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("程序内置的图片无法读取"));
    if (QString reason = stored ? QString() : openPictureFile(path, file); !reason.isEmpty())
        return failure(std::move(reason));
    // JPEGs of one scan, nearly every photo, are decoded here: libjpeg-turbo goes over their
    // pixels once, into the picture and no other buffer, so the allocation limit bounds both
    // time and memory. Every other picture, in a process of its own whose limits bound the
    // libraries that have no bounds of their own. The program's own pictures have no handle.
    if (file.handle() < 0) return decodeOpenFile(file);
    if (DecodedPicture jpeg; looksLikeJpeg(file.peek(3)) && settled(jpeg = readJpeg(file, true)))
        return fromDecoded(std::move(jpeg));
    return decodeInChild(file.handle());
}

} // namespace platform
