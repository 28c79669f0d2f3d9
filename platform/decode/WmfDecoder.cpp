#include "Decoders.h"

#include <QtEndian>

#include <libwmf/api.h>
#include <libwmf/gd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace platform::decode {
namespace {

constexpr double kDotsPerInch = 96.0;

QString describe(wmf_error_t error)
{
    switch (error) {
    case wmf_E_InsMem:
        return QStringLiteral("内存不足，无法读取图元文件");
    case wmf_E_EOF:
        return QStringLiteral("图元文件不完整");
    case wmf_E_BadFile:
        // With the file already in memory this means libwmf could not load its own fonts.
        return QStringLiteral("图元文件无法读取（缺少字体）");
    case wmf_E_BadFormat:
        return QStringLiteral("图元文件已损坏");
    default:
        return QStringLiteral("图元文件无法绘制");
    }
}

struct ApiDeleter
{
    void operator()(wmfAPI* api) const { wmf_api_destroy(api); }
};
using Api = std::unique_ptr<wmfAPI, ApiDeleter>;

constexpr quint32 kPlaceableKey = 0x9AC6CDD7u;

// The frame a placeable header promises, in libwmf's device units (points), measured from the
// window origin, which writers set to the frame's top-left corner. Drawing this frame rather
// than the extent of the strokes keeps the picture's margins; plain metafiles have no frame.
bool placeableFrame(const QByteArray& data, wmfD_Rect& frame)
{
    if (data.size() < 22 || qFromLittleEndian<quint32>(data.constData()) != kPlaceableKey)
        return false;
    const auto word = [&](int at) { return qFromLittleEndian<qint16>(data.constData() + at); };
    const int unitsPerInch = quint16(word(14));
    const int width = word(10) - word(6);
    const int height = word(12) - word(8);
    if (unitsPerInch == 0 || width <= 0 || height <= 0) return false;
    frame.TL = {0.0f, 0.0f};
    frame.BR = {float(width) * 72.0f / float(unitsPerInch),
                float(height) * 72.0f / float(unitsPerInch)};
    return true;
}

// libwmf's gd device can hand out its raw canvas, but nothing exported frees that canvas
// afterwards; as PNG output the canvas is freed inside libwmf, so we take the PNG bytes.
struct MemoryFile
{
    char* bytes = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&bytes, &size);
    ~MemoryFile()
    {
        if (file) std::fclose(file);
        std::free(bytes);
    }
    QByteArray take()
    {
        std::fclose(std::exchange(file, nullptr));
        return QByteArray(bytes, qsizetype(size));
    }
};

// libwmf allocates a buffer for the largest record the header announces before it reads any;
// a record cannot be larger than the file, so a larger claim is a lie (up to 8 GB in 4 bytes).
bool recordsFitTheFile(const QByteArray& data)
{
    const qsizetype header = qFromLittleEndian<quint32>(data.constData()) == kPlaceableKey ? 22 : 0;
    if (data.size() < header + 18) return false;
    const quint32 largestRecordWords = qFromLittleEndian<quint32>(data.constData() + header + 12);
    return qint64(largestRecordWords) * 2 <= data.size();
}

} // namespace

bool looksLikeWmf(QByteArrayView head)
{
    if (head.size() < 6) return false;
    if (qFromLittleEndian<quint32>(head.data()) == kPlaceableKey) return true;
    // A plain metafile header: type 1 (memory) or 2 (disk), a nine-word header, and
    // version 0x0100 or 0x0300.
    const quint16 type = qFromLittleEndian<quint16>(head.data());
    const quint16 headerWords = qFromLittleEndian<quint16>(head.data() + 2);
    const quint16 version = qFromLittleEndian<quint16>(head.data() + 4);
    return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

DecodedPicture decodeWmf(const QByteArray& data)
{
    if (!recordsFitTheFile(data)) return failure(describe(wmf_E_BadFormat));
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    // Reports go into the returned error, not onto the terminal.
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* rawApi = nullptr;
    if (wmf_api_create(&rawApi, flags, &options) != wmf_E_None) {
        if (rawApi) wmf_api_destroy(rawApi);
        return failure(QStringLiteral("无法读取图元文件"));
    }
    const Api api(rawApi);

    // libwmf only reads from the buffer; its signature just predates const.
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData()));
    if (wmf_mem_open(api.get(), bytes, long(data.size())) != wmf_E_None)
        return failure(describe(api->err));

    wmfD_Rect bbox{};
    if (wmf_scan(api.get(), 0, &bbox) != wmf_E_None) return failure(describe(api->err));

    // With a placeable header this is the drawing's physical size at 96 dpi; a plain metafile
    // has none, and libwmf then takes its logical units as points.
    unsigned int width = 0;
    unsigned int height = 0;
    if (wmf_display_size(api.get(), &width, &height, kDotsPerInch, kDotsPerInch) != wmf_E_None)
        return failure(describe(api->err));
    if (width == 0 || height == 0) return failure(QStringLiteral("图元文件没有尺寸"));
    if (!fitsAllocationLimit(width, height)) return failure(QStringLiteral("图片尺寸过大"));

    placeableFrame(data, bbox);
    MemoryFile png;
    if (!png.file) return failure(QStringLiteral("内存不足"));
    wmf_gd_t* device = WMF_GD_GetData(api.get());
    device->type = wmf_gd_png;
    device->flags |= WMF_GD_OUTPUT_FILE;
    device->file = png.file;
    device->width = width;
    device->height = height;
    device->bbox = bbox;
    if (wmf_play(api.get(), 0, &bbox) != wmf_E_None) return failure(describe(api->err));

    QImage image = QImage::fromData(png.take(), "PNG");
    if (image.isNull()) return failure(describe(wmf_E_DeviceError));
    return {std::move(image), QString()};
}

} // namespace platform::decode
