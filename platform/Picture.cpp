#include "platform/Picture.h"

namespace platform {

std::int32_t Picture::Handle() const
{
    if (m_image.isNull())
        return 0;
    // The upper half of the cache key is the image's serial number; it tells
    // pictures apart, and a value that happens to be 0 is mapped to 1 so a
    // held picture never reads as "none".
    const auto serial = static_cast<std::int32_t>(m_image.cacheKey() >> 32);
    return serial != 0 ? serial : 1;
}

} // namespace platform
