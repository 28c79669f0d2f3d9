#include "WmfDecoder.h"

#include "Limits.h"

#include <QtEndian>

#include <libwmf/api.h>
#include <libwmf/gd.h>

#include <memory>

namespace platform::decode {
namespace {

constexpr double kDotsPerInch = 96.0;

QString describe(wmf_error_t error)
{
    switch (error) {
    case wmf_E_InsMem:
        return QStringLiteral("Out of memory while reading the metafile");
    case wmf_E_EOF:
        return QStringLiteral("Metafile is truncated");
    case wmf_E_BadFile:
        // With the file already in memory this means libwmf could not load its own fonts.
        return QStringLiteral("Metafile cannot be read (libwmf found no fonts)");
    case wmf_E_BadFormat:
        return QStringLiteral("Metafile is damaged");
    default:
        return QStringLiteral("Metafile cannot be drawn");
    }
}

struct ApiDeleter
{
    void operator()(wmfAPI* api) const { wmf_api_destroy(api); }
};
using Api = std::unique_ptr<wmfAPI, ApiDeleter>;

// gd keeps true-colour pixels as 0xAARRGGBB with a 7-bit alpha where 0 means opaque.
QImage imageFromGdPixels(const int* pixels, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int* source = pixels + qsizetype(y) * width;
        for (int x = 0; x < width; ++x) {
            const auto gd = quint32(source[x]);
            const quint32 transparency = (gd >> 24) & 0x7f;
            const quint32 alpha = 255 - (transparency * 255 + 63) / 127;
            line[x] = (alpha << 24) | (gd & 0xffffff);
        }
    }
    return image;
}

} // namespace

bool looksLikeWmf(QByteArrayView head)
{
    if (head.size() < 6) return false;
    if (qFromLittleEndian<quint32>(head.data()) == 0x9AC6CDD7u) return true;
    // A plain metafile header: type 1 (memory) or 2 (disk), a nine-word header, and
    // version 0x0100 or 0x0300.
    const quint16 type = qFromLittleEndian<quint16>(head.data());
    const quint16 headerWords = qFromLittleEndian<quint16>(head.data() + 2);
    const quint16 version = qFromLittleEndian<quint16>(head.data() + 4);
    return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

DecodeResult decodeWmf(const QByteArray& data)
{
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    // Reports go into the returned error, not onto the terminal.
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* rawApi = nullptr;
    if (wmf_api_create(&rawApi, flags, &options) != wmf_E_None) {
        if (rawApi) wmf_api_destroy(rawApi);
        return {QImage(), QStringLiteral("Metafile support is not available")};
    }
    const Api api(rawApi);

    // libwmf only reads from the buffer; its signature just predates const.
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData()));
    if (wmf_mem_open(api.get(), bytes, long(data.size())) != wmf_E_None)
        return {QImage(), describe(api->err)};

    wmfD_Rect bbox{};
    if (wmf_scan(api.get(), 0, &bbox) != wmf_E_None) return {QImage(), describe(api->err)};

    // With a placeable header this is the drawing's physical size at 96 dpi; a plain metafile
    // has none, and libwmf then takes its logical units as points.
    unsigned int width = 0;
    unsigned int height = 0;
    if (wmf_display_size(api.get(), &width, &height, kDotsPerInch, kDotsPerInch) != wmf_E_None)
        return {QImage(), describe(api->err)};
    if (width == 0 || height == 0) return {QImage(), QStringLiteral("Metafile has no size")};
    if (!fitsAllocationLimit(width, height))
        return {QImage(), QStringLiteral("Image is too large")};

    wmf_gd_t* device = WMF_GD_GetData(api.get());
    device->type = wmf_gd_image;
    device->width = width;
    device->height = height;
    device->bbox = bbox;
    if (wmf_play(api.get(), 0, &bbox) != wmf_E_None) return {QImage(), describe(api->err)};
    if (!device->gd_image) return {QImage(), describe(wmf_E_DeviceError)};

    const int* pixels = wmf_gd_image_pixels(device->gd_image);
    if (!pixels) return {QImage(), describe(wmf_E_DeviceError)};
    QImage image = imageFromGdPixels(pixels, int(width), int(height));
    if (image.isNull()) return {QImage(), QStringLiteral("Out of memory")};
    return {std::move(image), QString()};
}

} // namespace platform::decode
