#include "platform/decode/Decoders.h"

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
constexpr quintptr kFaultBytes = 4 << 20;

// Faults in all the pages of `image` a few megabytes a call rather than one fault at a time
// (measured: 340 against 410 ms of processor time for a 48-megapixel photo), on another core
// while the decoder starts on them (or, with no thread to be had, not at all). A call holds the
// process's memory map, so the window's thread, wanting memory of its own to paint with, waits
// for one call at most: for the whole picture at once it waited 190 ms on 150 megapixels.
// Huge pages were faster still in the median, but in four loads of ten the kernel held one for
// half a second or more.
std::future<void> faultIn(const QImage& image)
{
    const auto bits = quintptr(image.constBits()), start = (bits + kPage - 1) & ~(kPage - 1);
    const quintptr end = (bits + quintptr(image.sizeInBytes())) & ~(kPage - 1);
    return std::async(std::launch::async | std::launch::deferred, [start, end] {
        for (quintptr at = start; at < end; at += kFaultBytes)
            ::madvise(reinterpret_cast<void*>(at), std::min(kFaultBytes, end - at),
                      MADV_POPULATE_WRITE);
    });
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

// libjpeg gives at most the rows of one row of blocks a call, never more than 16.
constexpr int kRowsACall = 16;

// Decodes into `image`, from the top.
bool decodeRows(jpeg_decompress_struct& info, ErrorManager& errors, QImage& image)
{
    if (setjmp(errors.jump)) return false;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[kRowsACall];
        const int first = int(info.output_scanline);
        const int wanted = std::min(kRowsACall, image.height() - first);
        for (int i = 0; i < wanted; ++i)
            rows[i] = image.scanLine(first + i);
        if (jpeg_read_scanlines(&info, rows, JDIMENSION(wanted)) == 0) return false;
    }
    jpeg_finish_decompress(&info);
    return true;
}

DecodedPicture decodeWith(jpeg_decompress_struct& info, ErrorManager& errors, std::FILE* stream,
                          bool oneScan)
{
    JOCTET* profile = nullptr;
    unsigned int profileSize = 0;
    const bool read = readHeader(info, errors, stream, &profile, &profileSize);
    const QByteArray icc(reinterpret_cast<const char*>(profile), profile ? profileSize : 0);
    std::free(profile);
    // Inks (CMYK, YCCK) are Qt's to convert; JPEGs of several scans, with `oneScan`, are left.
    if (!read || info.num_components == 4 || (oneScan && jpeg_has_multiple_scans(&info))) return {};
    info.out_color_space = JCS_EXT_BGRX; // QImage's RGB32 as bytes; the fill byte is 0xff
    info.dct_method = JDCT_ISLOW;
    if (!fitsAllocationLimit(info.image_width, info.image_height)) return {};

    QImage image(int(info.image_width), int(info.image_height), QImage::Format_RGB32);
    if (image.isNull()) return {};
    const std::future<void> faulting = faultIn(image); // joined before the picture goes
    if (!icc.isEmpty()) image.setColorSpace(QColorSpace::fromIccProfile(icc));
    // Qt's reader would stop at the same fault, after decoding the whole picture once more.
    return decodeRows(info, errors, image) ? DecodedPicture{image, {}}
                                           : failure(QStringLiteral("图片数据已损坏"));
}

} // namespace

DecodedPicture decodeJpeg(std::FILE* stream, bool oneScan)
{
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leave;
    errors.manager.emit_message = silent;
    DecodedPicture decoded = decodeWith(info, errors, stream, oneScan);
    jpeg_destroy_decompress(&info);
    return decoded;
}

} // namespace platform::decode
