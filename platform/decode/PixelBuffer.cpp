#include "PixelBuffer.h"

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

} // namespace

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

} // namespace platform::decode
