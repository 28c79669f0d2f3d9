// Windows metafiles, plain and enhanced, drawn by the system that defined them.
#include "platform/decode/Decoders.h"

#include <QtEndian>

#include <cstring>

#include <windows.h>

namespace platform::decode {
namespace {

constexpr double kPixelsPerHundredthMm = 96.0 / 2540.0; // 96 dpi

// Draws the metafile onto white at the size of the frame its header gives, capped.
DecodedPicture draw(HENHMETAFILE metafile)
{
    ENHMETAHEADER header{};
    if (!metafile || !::GetEnhMetaFileHeader(metafile, sizeof header, &header)) {
        if (metafile) ::DeleteEnhMetaFile(metafile);
        return failure(QStringLiteral("图元文件的头部已损坏"));
    }
    const RECTL& frame = header.rclFrame; // inclusive, in hundredths of a millimetre
    const QSize size =
        drawingSize(QSizeF(frame.right - frame.left + 1.0, frame.bottom - frame.top + 1.0) *
                    kPixelsPerHundredthMm);
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), size.width(), -size.height(), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HDC dc = ::CreateCompatibleDC(nullptr);
    const HBITMAP bitmap =
        size.isEmpty() ? nullptr : ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    QImage image;
    if (bitmap) {
        const HGDIOBJ old = ::SelectObject(dc, bitmap);
        std::memset(bits, 0xff, size_t(size.width()) * size_t(size.height()) * 4);
        const RECT area{0, 0, size.width(), size.height()};
        ::PlayEnhMetaFile(dc, metafile, &area);
        ::GdiFlush();
        image = QImage(static_cast<const uchar*>(bits), size.width(), size.height(),
                       QImage::Format_RGB32)
                    .copy();
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(dc);
    ::DeleteEnhMetaFile(metafile);
    if (image.isNull()) return failure(QStringLiteral("图元文件无法绘制"));
    // GDI leaves the fourth byte as it found it; the picture's pixels are opaque.
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] |= 0xff000000u;
    }
    return {image, {}};
}

} // namespace

// A placeable header gives the frame in its own units an inch; the records follow it.
DecodedPicture decodeWmf(const QByteArray& data)
{
    const bool placeable = qFromLittleEndian<quint32>(data.constData()) == kPlaceableKey;
    const auto word = [&](int at) { return qFromLittleEndian<qint16>(data.constData() + at); };
    METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
    if (placeable && data.size() >= 22 && word(14) != 0) {
        picture.xExt = LONG((word(10) - word(6)) * 2540.0 / quint16(word(14)));
        picture.yExt = LONG((word(12) - word(8)) * 2540.0 / quint16(word(14)));
    }
    const qsizetype skip = placeable ? 22 : 0;
    if (data.size() <= skip) return failure(QStringLiteral("图元文件的头部已损坏"));
    return draw(::SetWinMetaFileBits(
        UINT(data.size() - skip), reinterpret_cast<const BYTE*>(data.constData() + skip), nullptr,
        picture.xExt > 0 && picture.yExt > 0 ? &picture : nullptr));
}

DecodedPicture decodeEmf(const QByteArray& data)
{
    return draw(
        ::SetEnhMetaFileBits(UINT(data.size()), reinterpret_cast<const BYTE*>(data.constData())));
}

} // namespace platform::decode
