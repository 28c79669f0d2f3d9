#include "platform/decode/Decoders.h"

#include <QColorSpace>
#include <QtEndian>

#include <libheif/heif.h>

#include <array>
#include <memory>

namespace platform::decode {
namespace {

// A libheif object, handed back to libheif's own release function.
template <typename T, auto Release>
using Owned = std::unique_ptr<T, decltype([](T* object) { Release(object); })>;

// libheif's messages are English; the reason the user reads is ours.
DecodedPicture libraryFailure(const heif_error& error)
{
    if (error.code == heif_error_Memory_allocation_error)
        return failure(QStringLiteral("内存不足，无法解码 HEIF 图片"));
    if (error.code == heif_error_Unsupported_feature ||
        error.code == heif_error_Unsupported_filetype)
        return failure(QStringLiteral("不支持这种 HEIF 图片"));
    return failure(QStringLiteral("HEIF 图片已损坏，无法解码"));
}

// nclx boxes describe colour by code points instead of a profile; only primaries wider or other
// than sRGB's, or a linear curve, need a conversion. The video curves (BT.709, BT.601, BT.2020,
// BT.470) are close enough to sRGB's for tiles, and the HDR curves cannot be shown faithfully
// on an sRGB picture anyway.
QColorSpace colourSpaceFromNclx(const heif_color_profile_nclx& nclx)
{
    const bool linear = nclx.transfer_characteristics == heif_transfer_characteristic_linear;
    const auto transfer =
        linear ? QColorSpace::TransferFunction::Linear : QColorSpace::TransferFunction::SRgb;
    if (nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
        nclx.color_primaries == heif_color_primaries_unspecified)
        return linear ? QColorSpace(QColorSpace::Primaries::SRgb, transfer) : QColorSpace();
    return QColorSpace(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
                       QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
                       QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
                       QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), transfer);
}

QColorSpace colourSpaceOf(const heif_image_handle* handle)
{
    if (const size_t size = heif_image_handle_get_raw_color_profile_size(handle); size > 0) {
        QByteArray icc(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok) {
            const QColorSpace space = QColorSpace::fromIccProfile(icc);
            if (space.isValid()) return space;
        }
    }
    heif_color_profile_nclx* raw = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok || !raw)
        return {};
    const Owned<heif_color_profile_nclx, heif_nclx_color_profile_free> nclx(raw);
    return colourSpaceFromNclx(*nclx);
}

} // namespace

DecodedPicture decodeHeif(const QByteArray& data)
{
    // Reference-counted in libheif; one reference for the life of the program is enough.
    [[maybe_unused]] static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    const Owned<heif_context, heif_context_free> context(heif_context_alloc());
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), data.constData(),
                                                                  size_t(data.size()), nullptr);
    if (error.code != heif_error_Ok) return libraryFailure(error);

    heif_image_handle* rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    if (error.code != heif_error_Ok) return libraryFailure(error);
    const Owned<heif_image_handle, heif_image_handle_release> handle(rawHandle);

    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const Owned<heif_decoding_options, heif_decoding_options_free> options(
        heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1; // transformations stay on: libheif applies irot/imir/clap
    heif_image* decoded = nullptr;
    error = heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                              options.get());
    if (error.code != heif_error_Ok) return libraryFailure(error);

    int stride = 0;
    const uint8_t* pixels =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    const QImage::Format format = !alpha ? QImage::Format_RGB888
                                  : heif_image_handle_is_premultiplied_alpha(handle.get())
                                      ? QImage::Format_RGBA8888_Premultiplied
                                      : QImage::Format_RGBA8888;
    // Wrap libheif's buffer instead of copying it; normalisation makes the one RGB32 copy. Without
    // pixels the picture is null and the buffer stays until the decoding process exits.
    QImage image(
        pixels, width, height, stride, format,
        [](void* heifImage) { heif_image_release(static_cast<heif_image*>(heifImage)); }, decoded);
    if (image.isNull()) return failure(QStringLiteral("HEIF 图片没有像素数据"));
    image.setColorSpace(colourSpaceOf(handle.get()));
    return {std::move(image), QString()};
}

} // namespace platform::decode
