#include "Decoders.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

namespace platform::decode {
namespace {

constexpr qsizetype kHeadBytes = 70;
constexpr quint32 kUncompressed = 0;
constexpr quint32 kBitfields = 3;
constexpr quint32 kAlphaBitfields = 6;

quint32 u32(QByteArrayView b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.data() + at);
}
quint16 u16(QByteArrayView b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.data() + at);
}

// One channel's field: where it sits, and a table that widens its value to eight bits.
class Field
{
public:
    explicit Field(quint32 mask) : m_mask(mask)
    {
        if (mask == 0) return;
        // A field wider than eight bits keeps its top eight.
        const int bits = std::bit_width(mask >> std::countr_zero(mask));
        const int kept = std::min(bits, 8);
        m_shift = std::countr_zero(mask) + bits - kept;
        for (int v = 0; v < 1 << kept; ++v) {
            // Repeat the field's bits from the top down until eight are filled.
            for (int filled = 0; filled < 8; filled += kept)
                m_widened[size_t(v)] |= quint8((v << (8 - kept)) >> filled);
        }
    }
    [[nodiscard]] bool present() const { return m_mask != 0; }
    [[nodiscard]] int operator()(quint32 pixel) const
    {
        return m_widened[(pixel & m_mask) >> m_shift];
    }

private:
    quint32 m_mask;
    int m_shift = 0;
    std::array<quint8, 256> m_widened{};
};

} // namespace

bool isBitfieldBmp(QByteArrayView head)
{
    if (head.size() < kHeadBytes || !head.startsWith("BM") || u32(head, 14) < 40) return false;
    const quint16 bits = u16(head, 28);
    const quint32 compression = u32(head, 30);
    return (bits == 16 && compression == kUncompressed) ||
           ((bits == 16 || bits == 32) &&
            (compression == kBitfields || compression == kAlphaBitfields));
}

DecodedPicture decodeBitfieldBmp(const QByteArray& data)
{
    const qint64 width = qint32(u32(data, 18));
    const qint32 storedHeight = qint32(u32(data, 22));
    const qint64 height = std::llabs(storedHeight);
    const int bits = u16(data, 28);
    const quint32 compression = u32(data, 30);
    if (!fitsAllocationLimit(width, height)) return failure(QStringLiteral("位图的尺寸无效或过大"));

    // The masks follow a 40-byte header, or are its own fields in the later headers; either way
    // they sit at the same offsets. The alpha mask exists from the 56-byte header on.
    const bool masks = compression != kUncompressed;
    const Field red(masks ? u32(data, 54) : 0x7c00u);
    const Field green(masks ? u32(data, 58) : 0x03e0u);
    const Field blue(masks ? u32(data, 62) : 0x001fu);
    const bool alphaMask = compression == kAlphaBitfields || u32(data, 14) >= 56;
    const Field alpha(masks && alphaMask ? u32(data, 66) : 0);

    const qint64 rowBytes = (width * bits + 31) / 32 * 4;
    const qint64 offset = u32(data, 10);
    if (offset < 54 || data.size() - offset < 0 || (data.size() - offset) / rowBytes < height)
        return failure(QStringLiteral("位图文件比其头部声明的短"));

    QImage image(int(width), int(height),
                 alpha.present() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return failure(QStringLiteral("内存不足"));
    bool anyAlpha = false;
    for (qint64 stored = 0; stored < height; ++stored) {
        const int y = int(storedHeight < 0 ? stored : height - 1 - stored); // bottom-up by default
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto* in =
            reinterpret_cast<const uchar*>(data.constData() + offset + stored * rowBytes);
        for (int x = 0; x < int(width); ++x) {
            const quint32 pixel = bits == 16 ? qFromLittleEndian<quint16>(in + 2 * x)
                                             : qFromLittleEndian<quint32>(in + 4 * x);
            const int a = alpha.present() ? alpha(pixel) : 255;
            anyAlpha |= a != 0;
            out[x] = qRgba(red(pixel), green(pixel), blue(pixel), a);
        }
    }
    // Writers that leave the alpha field all zero mean an opaque picture, not an invisible one.
    // Qt keeps the colours of ARGB32 pixels when it drops their alpha.
    if (alpha.present() && !anyAlpha) image.convertTo(QImage::Format_RGB32);
    return {std::move(image), QString()};
}

} // namespace platform::decode
