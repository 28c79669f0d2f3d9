#include "platform/decode/Decoders.h"

#include <QtEndian>

#include <libwmf/api.h>
#include <libwmf/gd.h>

#include <memory>

namespace platform::decode {
namespace {

constexpr double kDotsPerInch = 96.0;

// The reason the user reads for each of libwmf's errors, in the order of wmf_error_t.
QString describe(wmf_error_t error)
{
    static_assert(wmf_E_None == 0 && wmf_E_EOF == 4);
    // With the file already in memory a bad file means libwmf could not load its own fonts; past
    // the end of a file come a device error, a glitch or a failed assertion inside libwmf.
    static constexpr const char* reasons[] = {"图元文件无法绘制",
                                              "内存不足，无法读取图元文件",
                                              "图元文件无法读取（缺少字体）",
                                              "图元文件已损坏",
                                              "图元文件不完整",
                                              "图元文件无法绘制"};
    return QString::fromUtf8(reasons[std::clamp(int(error), 0, int(wmf_E_EOF) + 1)]);
}

using Api = std::unique_ptr<wmfAPI, decltype(&wmf_api_destroy)>;

// The frame a placeable header promises, in libwmf's device units (points), measured from the
// window origin, which writers set to the frame's top-left corner. Drawing this frame rather
// than the extent of the strokes keeps the picture's margins; plain metafiles have no frame.
bool placeableFrame(const QByteArray& data, wmfD_Rect& frame)
{
    if (data.size() < 22 || qFromLittleEndian<quint32>(data.constData()) != kPlaceableKey)
        return false;
    const auto word = [&](int at) { return qFromLittleEndian<qint16>(data.constData() + at); };
    const int unitsPerInch = quint16(word(14));
    const int width = word(10) - word(6), height = word(12) - word(8);
    if (unitsPerInch == 0 || width <= 0 || height <= 0) return false;
    frame.TL = {0.0f, 0.0f};
    frame.BR = {float(width) * 72.0f / float(unitsPerInch),
                float(height) * 72.0f / float(unitsPerInch)};
    return true;
}

} // namespace

DecodedPicture decodeWmf(const QByteArray& data)
{
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    // Reports go into the returned error, not onto the terminal.
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* rawApi = nullptr;
    const wmf_error_t created = wmf_api_create(&rawApi, flags, &options);
    const Api api(rawApi, &wmf_api_destroy); // also one that failed half-way
    if (created != wmf_E_None) return failure(QStringLiteral("无法读取图元文件"));

    // libwmf only reads from the buffer; its signature just predates const.
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData()));
    if (wmf_mem_open(api.get(), bytes, long(data.size())) != wmf_E_None)
        return failure(describe(api->err));

    wmfD_Rect bbox{};
    if (wmf_scan(api.get(), 0, &bbox) != wmf_E_None) return failure(describe(api->err));

    // With a placeable header this is the drawing's physical size at 96 dpi; a plain metafile
    // has none, and libwmf then takes its logical units as points.
    unsigned int width = 0, height = 0;
    if (wmf_display_size(api.get(), &width, &height, kDotsPerInch, kDotsPerInch) != wmf_E_None)
        return failure(describe(api->err));
    const QSize size = drawingSize(QSizeF(width, height));
    if (size.isEmpty()) return failure(QStringLiteral("图元文件没有尺寸"));

    placeableFrame(data, bbox);
    wmf_gd_t* device = WMF_GD_GetData(api.get());
    device->type = wmf_gd_image;
    device->width = unsigned(size.width());
    device->height = unsigned(size.height());
    device->bbox = bbox;
    // libwmf's cost is bounded by the process it runs in (decodeInChild), which also frees the
    // canvas that gd hands over and exports nothing to free.
    const wmf_error_t played = wmf_play(api.get(), 0, &bbox);
    if (!device->gd_image || played != wmf_E_None) return failure(describe(played));
    auto* pixels = reinterpret_cast<quint32*>(wmf_gd_image_pixels(device->gd_image));
    QImage image(reinterpret_cast<uchar*>(pixels), size.width(), size.height(),
                 QImage::Format_RGB32);
    // gd counts transparency in the top byte, zero for opaque; RGB32 wants it all ones.
    for (qsizetype i = 0, count = qsizetype(size.width()) * size.height(); i < count; ++i)
        pixels[i] |= 0xff000000u;
    return {std::move(image), QString()};
}

} // namespace platform::decode
