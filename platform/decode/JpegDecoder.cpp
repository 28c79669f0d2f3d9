#include "Decoders.h"

#include <QColorSpace>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <future>

#include <jpeglib.h>
#include <sys/mman.h>

namespace platform::decode {
namespace {

// madvise takes whole pages; where pages are larger the call is refused, and the pages come
// one fault at a time as the decoder reaches them.
constexpr quintptr kPage = 4096;

// Faults in all the pages of `image` by one call rather than one fault at a time (measured: 340
// against 410 ms of processor time for a 48-megapixel photo), on another core while the decoder
// starts on them (or, with no thread to be had, not at all). Huge pages were faster still in
// the median, but in four loads of ten the kernel held one for half a second or more.
std::future<int> faultIn(const QImage& image)
{
    const auto bits = quintptr(image.constBits()), start = (bits + kPage - 1) & ~(kPage - 1);
    const quintptr end = (bits + quintptr(image.sizeInBytes())) & ~(kPage - 1);
    return std::async(std::launch::async | std::launch::deferred, ::madvise,
                      reinterpret_cast<void*>(start), std::max(start, end) - start,
                      MADV_POPULATE_WRITE);
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

// The picture being filled: `bits`, rows `stride` bytes apart, sized for the turned picture;
// width and height are the stored picture's.
struct Target
{
    uchar* bits;
    qsizetype stride;
    int width, height;
    bool mirror, flip, rotate; // applied in this order, as Qt's reader applies them
};

// Stored rows decoded at once. A picture turned a quarter has them decoded into a band and
// written out column by column: each column of the band becomes kBandRows pixels side by side
// in one row of the picture. Every row of the picture is visited once a band, each visit a
// page to look up: 256 rows took half the time of 64 to turn (measured on 24 megapixels).
constexpr int kBandRows = 256;
// Bands decoded, turned or waiting to be turned at once. The band that first writes into a
// stretch of the picture's rows faults its pages in and takes three times as long to turn as
// one band takes to decode, the next three are quick: a third band lets the decoder go on
// meanwhile (24 megapixels turned: 136 ms with two bands and the pages faulted in first, 114
// ms with three and no faulting ahead, upright 99 ms).
constexpr int kBands = 3;

// Writes `rows` rows of `band` into the picture turned a quarter clockwise: row i lands,
// mirrored and flipped, as row y0+i*dy, turned as column height-1-(y0+i*dy).
void turnBand(Target to, const QRgb* band, int y0, int rows)
{
    const int dy = to.flip ? -1 : 1;
    for (int x = 0; x < to.width; ++x) {
        auto* out =
            reinterpret_cast<QRgb*>(to.bits + (to.mirror ? to.width - 1 - x : x) * to.stride);
        for (int i = 0; i < rows; ++i)
            out[to.height - 1 - y0 - i * dy] = band[qsizetype(i) * to.width + x];
    }
}

// Reads the header and the ICC profile, whose chunks live in memory that libjpeg releases when
// the decoding finishes; *profile is the caller's to free.
bool readHeader(jpeg_decompress_struct& info, ErrorManager& errors, std::FILE* stream,
                JOCTET** profile, unsigned int* profileSize)
{
    if (setjmp(errors.jump)) return false;
    jpeg_create_decompress(&info); // may fail for memory, so only once the jump point is set
    // Read a few kilobytes at a time, so the file never sits whole in memory
    // beside the picture.
    jpeg_stdio_src(&info, stream);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xffff); // ICC profile chunks
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
    jpeg_read_icc_profile(&info, profile, profileSize);
    return true;
}

// Decodes into the picture. Turned a quarter, band after band goes through `bands`, kBands of
// them in turn: while one is decoded, the ones before are turned on another core by `turning`,
// so the turning costs no time where a core is free.
bool decodeRows(jpeg_decompress_struct& info, ErrorManager& errors, Target to, QRgb* bands,
                std::future<void> (&turning)[kBands])
{
    if (setjmp(errors.jump)) return false;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        const int wanted = std::min(kBandRows, to.height - first);
        // Which band this one goes through when turned (once the one before it there is turned);
        // turned or not, where its rows go.
        const int slot = first / kBandRows % kBands;
        QRgb* const band = bands + qsizetype(slot) * kBandRows * to.width;
        if (turning[slot].valid()) turning[slot].wait();
        const int y0 = to.flip ? to.height - 1 - first : first, dy = to.flip ? -1 : 1;
        JSAMPROW rows[kBandRows];
        for (int i = 0; i < wanted; ++i)
            rows[i] = to.rotate ? reinterpret_cast<JSAMPROW>(band + i * to.width)
                                : to.bits + (y0 + i * dy) * to.stride;
        int got = 0; // libjpeg gives at most the rows of one row of blocks a call
        for (int more = 1; got < wanted && more > 0; got += more)
            more = int(jpeg_read_scanlines(&info, rows + got, JDIMENSION(wanted - got)));
        if (got < wanted) return false;
        for (int i = 0; to.mirror && !to.rotate && i < wanted; ++i)
            std::reverse(reinterpret_cast<QRgb*>(rows[i]),
                         reinterpret_cast<QRgb*>(rows[i]) + to.width);
        if (to.rotate) turning[slot] = std::async(turnBand, to, band, y0, wanted);
    }
    jpeg_finish_decompress(&info);
    return true;
}

DecodedPicture decodeWith(jpeg_decompress_struct& info, ErrorManager& errors, std::FILE* stream,
                          QImageIOHandler::Transformations orientation)
{
    JOCTET* profile = nullptr;
    unsigned int profileSize = 0;
    const bool read = readHeader(info, errors, stream, &profile, &profileSize);
    const QByteArray icc(reinterpret_cast<const char*>(profile), profile ? profileSize : 0);
    std::free(profile);
    if (!read || info.num_components == 4) return {}; // inks (CMYK, YCCK) are Qt's to convert
    info.out_color_space = JCS_EXT_BGRX; // QImage's RGB32 as bytes; the fill byte is 0xff
    info.dct_method = JDCT_ISLOW;
    const qint64 width = info.image_width, height = info.image_height;
    if (!fitsAllocationLimit(width, height)) return {};

    const bool rotate = orientation.testFlag(QImageIOHandler::TransformationRotate90);
    QImage image(rotate ? QSize(int(height), int(width)) : QSize(int(width), int(height)),
                 QImage::Format_RGB32);
    if (image.isNull()) return {};
    // Turned a quarter, the pages are faulted in by the turning, on the other core already.
    std::future<int> faulting; // joined before the picture goes
    if (!rotate) faulting = faultIn(image);
    if (!icc.isEmpty()) image.setColorSpace(QColorSpace::fromIccProfile(icc));
    auto* bands =
        rotate ? static_cast<QRgb*>(std::malloc(size_t(width) * kBands * kBandRows * 4)) : nullptr;
    if (rotate && !bands) return {};
    std::future<void> turning[kBands];
    const bool mirror = orientation.testFlag(QImageIOHandler::TransformationMirror);
    const bool flip = orientation.testFlag(QImageIOHandler::TransformationFlip);
    const Target to{image.bits(), image.bytesPerLine(), int(width), int(height), mirror, flip,
                    rotate};
    const bool decoded = decodeRows(info, errors, to, bands, turning);
    for (std::future<void>& band : turning)
        if (band.valid()) band.wait();
    std::free(bands);
    // Qt's reader would stop at the same fault, after decoding the whole picture once more.
    return decoded ? DecodedPicture{image, {}} : failure(QStringLiteral("图片数据已损坏"));
}

} // namespace

bool looksLikeJpeg(QByteArrayView head)
{
    return head.size() >= 3 && head.startsWith("\xff\xd8\xff");
}

DecodedPicture decodeJpeg(std::FILE* stream, QImageIOHandler::Transformations orientation)
{
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leave;
    errors.manager.emit_message = silent;
    DecodedPicture decoded = decodeWith(info, errors, stream, orientation);
    jpeg_destroy_decompress(&info);
    return decoded;
}

} // namespace platform::decode
