#include "Decoders.h"

#include <QtEndian>

#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/gd/gd.h>
#include <libwmf/ipa.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace platform::decode {
namespace {

constexpr double kDotsPerInch = 96.0;

// The reason the user reads for each of libwmf's errors, in the order of wmf_error_t.
QString describe(wmf_error_t error)
{
    static_assert(wmf_E_None == 0 && wmf_E_UserExit == 8);
    static constexpr const char* reasons[] = {
        "图元文件无法绘制", "内存不足，无法读取图元文件",
        // With the file already in memory a bad file means libwmf could not load its own fonts.
        "图元文件无法读取（缺少字体）", "图元文件已损坏", "图元文件不完整",
        // A device error, a glitch or a failed assertion inside libwmf.
        "图元文件无法绘制", "图元文件无法绘制", "图元文件无法绘制",
        "图元文件过于复杂，无法及时绘制"};
    return QString::fromUtf8(reasons[std::clamp(int(error), 0, int(wmf_E_UserExit))]);
}

using Api = std::unique_ptr<wmfAPI, decltype(&wmf_api_destroy)>;

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
    const int width = word(10) - word(6), height = word(12) - word(8);
    if (unitsPerInch == 0 || width <= 0 || height <= 0) return false;
    frame.TL = {0.0f, 0.0f};
    frame.BR = {float(width) * 72.0f / float(unitsPerInch),
                float(height) * 72.0f / float(unitsPerInch)};
    return true;
}

// libwmf's gd device hands over its canvas but exports nothing that frees it. Its gd.h gives
// the layout, and its gdImageDestroy frees exactly these with free(); a truecolour canvas has
// no palette rows.
void destroyCanvas(void* canvas)
{
    auto* image = static_cast<gdImage*>(canvas);
    std::free(image->_tpixels);
    std::free(image->tpixels);
    std::free(image->polyInts);
    std::free(image->style);
    if (image->clip) std::free(image->clip->list);
    std::free(image->clip);
    std::free(image);
}

// libwmf allocates a buffer for the largest record the header announces before it reads any;
// a record cannot be larger than the file, so a larger claim is a lie (up to 8 GB in 4 bytes).
bool recordsFitTheFile(const QByteArray& data)
{
    const qsizetype header = qFromLittleEndian<quint32>(data.constData()) == kPlaceableKey ? 22 : 0;
    return data.size() >= header + 18 &&
           2 * qint64(qFromLittleEndian<quint32>(data.constData() + header + 12)) <= data.size();
}

// libwmf's gd device draws a wide outline by stamping the whole pen at every pixel along it, so
// one shape costs its length times the pen's area: a 116-byte file with a pen 65535 units wide
// takes minutes inside a single record, where the deadline cannot reach. No drawing needs a
// pen wider than this many pixels; wider ones are drawn this wide.
constexpr double kWidestPen = 64;
// Text costs its letters times their height squared, on the canvas or off it, and an opaque
// background is filled over the whole estimated extent of the text: a hundred letters 8000
// pixels high took a minute in one record. A text of more pixels than this (half a second's
// work) is drawn smaller, and its background only where the canvas is.
constexpr double kMostTextPixels = 5e6;

using Functions = wmfFunctionReference;

double pixelsPerUnit(wmfAPI* api)
{
    const wmf_gd_t* device = WMF_GD_GetData(api);
    return device->width / (device->bbox.BR.x - device->bbox.TL.x);
}

// gd's function `draw` with the pen narrowed first; the user data holds gd's own functions.
template <auto draw, typename Shape> void withNarrowPen(wmfAPI* api, Shape* shape)
{
    const double widest = kWidestPen / pixelsPerUnit(api);
    shape->dc->pen->width = std::min(shape->dc->pen->width, widest);
    shape->dc->pen->height = std::min(shape->dc->pen->height, widest);
    (static_cast<Functions*>(api->user_data)->*draw)(api, shape);
}

void withSmallerText(wmfAPI* api, wmfDrawText_t* text)
{
    const double height = text->font_height * pixelsPerUnit(api);
    const double pixels = double(text->str ? std::strlen(text->str) : 0) * height * height;
    if (pixels > kMostTextPixels) text->font_height *= std::sqrt(kMostTextPixels / pixels);
    const wmfD_Rect canvas = WMF_GD_GetData(api)->bbox;
    for (wmfD_Coord* corner : {&text->bbox.TL, &text->bbox.TR, &text->bbox.BL, &text->bbox.BR}) {
        corner->x = std::clamp(corner->x, canvas.TL.x, canvas.BR.x);
        corner->y = std::clamp(corner->y, canvas.TL.y, canvas.BR.y);
    }
    static_cast<Functions*>(api->user_data)->draw_text(api, text);
}

template <auto... draws> void narrowPens(Functions& functions)
{
    (((functions.*draws) = withNarrowPen<draws>), ...);
}

} // namespace

bool looksLikeWmf(QByteArrayView head)
{
    if (head.size() < 6) return false;
    if (qFromLittleEndian<quint32>(head.data()) == kPlaceableKey) return true;
    // A plain metafile header: type 1 (memory) or 2 (disk), a nine-word header, and
    // version 0x0100 or 0x0300.
    const auto word = [&](int at) { return qFromLittleEndian<quint16>(head.data() + at); };
    return (word(0) == 1 || word(0) == 2) && word(2) == 9 &&
           (word(4) == 0x0100 || word(4) == 0x0300);
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
    // Every function that outlines narrows the pen and text is kept small, then gd's own draws.
    // gd has no polypolygon of its own (left empty, libwmf draws polygon by polygon).
    auto& functions = *static_cast<Functions*>(api->function_reference);
    Functions gd = functions;
    api->user_data = &gd;
    using F = Functions;
    narrowPens<&F::draw_pie, &F::draw_chord, &F::draw_arc, &F::draw_ellipse, &F::draw_line,
               &F::poly_line, &F::draw_polygon, &F::draw_rectangle>(functions);
    functions.draw_text = withSmallerText;
    // Each record is drawn onto the whole canvas at worst, so a short file of many records can
    // keep libwmf busy for minutes; past the deadline the drawing is given up.
    std::clock_t deadline = std::clock() + std::clock_t(kDrawingSeconds * CLOCKS_PER_SEC);
    wmf_status_function(api.get(), &deadline, [](void* deadline, float) {
        return int(std::clock() > *static_cast<std::clock_t*>(deadline));
    });
    const wmf_error_t played = wmf_play(api.get(), 0, &bbox);
    if (!device->gd_image) return failure(describe(played));
    auto* pixels = reinterpret_cast<quint32*>(wmf_gd_image_pixels(device->gd_image));
    QImage image(reinterpret_cast<uchar*>(pixels), size.width(), size.height(),
                 QImage::Format_RGB32, destroyCanvas, device->gd_image);
    if (played != wmf_E_None) return failure(describe(played));
    // gd counts transparency in the top byte, zero for opaque; RGB32 wants it all ones.
    for (qsizetype i = 0, count = qsizetype(size.width()) * size.height(); i < count; ++i)
        pixels[i] |= 0xff000000u;
    return {std::move(image), QString()};
}

} // namespace platform::decode
