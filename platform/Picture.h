#pragma once

#include <QImage>

namespace platform {

// A picture value.  Copies share the pixels (Qt's implicit sharing); a pixel
// buffer is duplicated only when somebody draws into a shared one.
class Picture
{
public:
    Picture() = default;
    explicit Picture(QImage image) : m_image(std::move(image)) {}

    // Non-zero exactly when the value holds a picture.
    [[nodiscard]] int Handle() const { return m_image.isNull() ? 0 : 1; }

    [[nodiscard]] const QImage& image() const { return m_image; }
    [[nodiscard]] bool isEmpty() const { return m_image.isNull(); }

private:
    QImage m_image;
};

// The empty picture, as `LoadPicture()` without a file gives it.
inline const Picture Nothing{};

} // namespace platform
