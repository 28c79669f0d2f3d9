#pragma once

#include <QImageIOHandler>

namespace platform {

// A picture value.  Copies share the pixels (Qt's implicit sharing); a pixel
// buffer is duplicated only when somebody draws into a shared one.  A photo
// stored turned keeps its stored rows and the turn that shows it upright;
// whatever is drawn from it is turned as it is drawn, so the whole picture is
// never turned, and never held twice.
class Picture
{
public:
    using Turn = QImageIOHandler::Transformations;

    Picture() = default;
    explicit Picture(QImage image, Turn turn = {}) : m_image(std::move(image)), m_turn(turn) {}

    // Non-zero exactly when the value holds a picture.
    [[nodiscard]] int Handle() const { return m_image.isNull() ? 0 : 1; }

    // The stored rows, and how they are turned to be shown.
    [[nodiscard]] const QImage& image() const { return m_image; }
    [[nodiscard]] Turn turn() const { return m_turn; }
    // The size as the picture is shown.
    [[nodiscard]] QSize size() const
    {
        const bool across = m_turn.testFlag(QImageIOHandler::TransformationRotate90);
        return across ? m_image.size().transposed() : m_image.size();
    }
    [[nodiscard]] bool isEmpty() const { return m_image.isNull(); }

private:
    QImage m_image;
    Turn m_turn;
};

// The empty picture, as `LoadPicture()` without a file gives it.
inline const Picture Nothing{};

} // namespace platform
