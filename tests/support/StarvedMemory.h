#pragma once
// Include in one source file of a test: while g_failFrom is not 0, every allocation of at least
// that many bytes fails, as when memory runs out. AddressSanitizer brings an allocator of its
// own, so under it nothing fails and the tests that starve skip; so do they on Windows.
#include <atomic>
#include <cstddef>
#include <cstdlib>

inline std::atomic<std::size_t> g_failFrom{0};

#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
inline constexpr bool kCanStarve = false;
#else
inline constexpr bool kCanStarve = true;
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) noexcept
{
    const std::size_t from = g_failFrom;
    return from != 0 && size >= from ? nullptr : __libc_malloc(size);
}
#endif
