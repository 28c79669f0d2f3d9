#pragma once

#include <QImage>

#include <cstdint>

namespace platform {

// A picture value.  Copies share the pixels (Qt's implicit sharing); a pixel
// buffer is duplicated only when somebody draws into a shared one.
class Picture
{
public:
    Picture() = default;
    explicit Picture(QImage image) : m_image(std::move(image)) {}

    // Non-zero exactly when the value holds a picture.
    [[nodiscard]] std::int32_t Handle() const;

    [[nodiscard]] const QImage& image() const { return m_image; }
    [[nodiscard]] bool isEmpty() const { return m_image.isNull(); }

private:
    QImage m_image;
};

// The empty picture, as `LoadPicture()` without a file gives it.
inline const Picture Nothing{};

} // namespace platform
