#include "Decoders.h"

#include <QColorSpace>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <sys/mman.h>

namespace platform::decode {
namespace {

// Below this a picture is small enough for the ordinary allocator.
constexpr qsizetype kOwnMappingBytes = qsizetype(16) * 1024 * 1024;
constexpr size_t kHugePage = size_t(2) * 1024 * 1024;

struct Mapping
{
    void* start;
    size_t length;
};

void unmap(void* mapping)
{
    auto* m = static_cast<Mapping*>(mapping);
    ::munmap(m->start, m->length);
    delete m;
}

// A Format_RGB32 picture of `size` for a decoder to fill; null when memory is short.
// Large pictures get memory of their own, in huge pages where the system allows, so that
// filling a photo of tens of megapixels does not stop for tens of thousands of page faults
// (measured: a third of the time of decoding a 48-megapixel JPEG went to them).
QImage allocateRgb32(QSize size)
{
    const qsizetype stride = qsizetype(size.width()) * 4;
    const qsizetype bytes = stride * size.height();
    if (bytes < kOwnMappingBytes) return QImage(size, QImage::Format_RGB32);

    // Over-allocate by one huge page so the pixels can start on a huge-page boundary.
    const size_t length = size_t(bytes) + kHugePage;
    void* start =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) return {};
    auto* aligned = reinterpret_cast<uchar*>((reinterpret_cast<quintptr>(start) + kHugePage - 1) &
                                             ~quintptr(kHugePage - 1));
    ::madvise(aligned, size_t(bytes), MADV_HUGEPAGE); // advice only; fine if refused
    return QImage(aligned, size.width(), size.height(), stride, QImage::Format_RGB32, unmap,
                  new Mapping{start, length});
}

// libjpeg reports a fatal error by calling error_exit, which must not return; we jump back
// out of the decoder. The functions that set the jump point hold no C++ objects with
// destructors, so nothing is skipped on the way out.
struct ErrorManager
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void leave(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void silent(j_common_ptr, int) {}

struct Orientation
{
    bool mirror, flip, rotate; // applied in this order, as Qt's reader applies them
};

// Rows decoded at once when they have to be scattered into columns: sixteen four-byte pixels
// fill one cache line of each destination row.
constexpr int kStripRows = 16;

bool readHeader(jpeg_decompress_struct& info, ErrorManager& errors, std::FILE* stream)
{
    if (setjmp(errors.jump)) return false;
    // Read a few kilobytes at a time, so the file never sits whole in memory
    // beside the picture.
    jpeg_stdio_src(&info, stream);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xffff); // ICC profile chunks
    return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
}

bool readProfile(jpeg_decompress_struct& info, ErrorManager& errors, JOCTET** profile,
                 unsigned int* size)
{
    if (setjmp(errors.jump)) return false;
    return jpeg_read_icc_profile(&info, profile, size) != 0;
}

// Decodes into `image` (already sized for the turned picture). `strip` has room for
// kStripRows stored rows when the picture is turned a quarter.
bool decodeRows(jpeg_decompress_struct& info, ErrorManager& errors, QImage* image, QRgb* strip,
                Orientation turn)
{
    if (setjmp(errors.jump)) return false;
    jpeg_start_decompress(&info);
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        if (!turn.rotate) {
            const int y = turn.flip ? height - 1 - first : first;
            JSAMPROW row = image->scanLine(y);
            if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
            if (turn.mirror)
                std::reverse(reinterpret_cast<QRgb*>(row), reinterpret_cast<QRgb*>(row) + width);
            continue;
        }
        JSAMPROW rows[kStripRows];
        const int wanted = std::min(kStripRows, height - first);
        for (int i = 0; i < wanted; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(strip + qsizetype(i) * width);
        const int got = int(jpeg_read_scanlines(&info, rows, JDIMENSION(wanted)));
        if (got <= 0) return false;
        // Stored (x, y), mirrored and flipped to (x1, y1), lands turned a quarter clockwise at
        // column height-1-y1 of row x1.
        for (int x = 0; x < width; ++x) {
            const int x1 = turn.mirror ? width - 1 - x : x;
            auto* out = reinterpret_cast<QRgb*>(image->scanLine(x1));
            for (int i = 0; i < got; ++i) {
                const int y1 = turn.flip ? height - 1 - (first + i) : first + i;
                out[height - 1 - y1] = strip[qsizetype(i) * width + x];
            }
        }
    }
    jpeg_finish_decompress(&info);
    return true;
}

QImage decodeWith(jpeg_decompress_struct& info, ErrorManager& errors, std::FILE* stream,
                  QImageIOHandler::Transformations orientation)
{
    if (!readHeader(info, errors, stream)) return {};
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK ||
        info.num_components == 4)
        return {};
    info.out_color_space = JCS_EXT_BGRX; // QImage's RGB32 as bytes; the fill byte is 0xff
    info.dct_method = JDCT_ISLOW;
    const qint64 width = info.image_width;
    const qint64 height = info.image_height;
    if (!fitsAllocationLimit(width, height)) return {};

    const Orientation turn{orientation.testFlag(QImageIOHandler::TransformationMirror),
                           orientation.testFlag(QImageIOHandler::TransformationFlip),
                           orientation.testFlag(QImageIOHandler::TransformationRotate90)};
    QImage image = turn.rotate ? allocateRgb32(QSize(int(height), int(width)))
                               : allocateRgb32(QSize(int(width), int(height)));
    if (image.isNull()) return {};
    // The profile's chunks live in memory that libjpeg releases when the decoding finishes.
    JOCTET* profile = nullptr;
    unsigned int profileSize = 0;
    if (readProfile(info, errors, &profile, &profileSize) && profile) {
        image.setColorSpace(QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(profileSize))));
    }
    std::free(profile);
    QRgb* strip = nullptr;
    if (turn.rotate) {
        strip = static_cast<QRgb*>(std::malloc(size_t(width) * kStripRows * sizeof(QRgb)));
        if (!strip) return {};
    }
    const bool decoded = decodeRows(info, errors, &image, strip, turn);
    std::free(strip);
    if (!decoded) return {};
    return image;
}

} // namespace

bool looksLikeJpeg(QByteArrayView head)
{
    return head.size() >= 3 && head.startsWith("\xff\xd8\xff");
}

QImage decodeJpeg(std::FILE* stream, QImageIOHandler::Transformations orientation)
{
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leave;
    errors.manager.emit_message = silent;
    jpeg_create_decompress(&info);
    QImage image = decodeWith(info, errors, stream, orientation);
    jpeg_destroy_decompress(&info);
    return image;
}

} // namespace platform::decode
