#pragma once

#include <cstdint>

namespace platform {

class PictureBox;

// A straight line drawn over whatever is painted into its container.  Its
// ends are in the container's units.
class Line
{
public:
    explicit Line(PictureBox& container);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    [[nodiscard]] float X1() const { return m_x1; }
    [[nodiscard]] float Y1() const { return m_y1; }
    [[nodiscard]] float X2() const { return m_x2; }
    [[nodiscard]] float Y2() const { return m_y2; }
    void setX1(float value);
    void setY1(float value);
    void setX2(float value);
    void setY2(float value);

    [[nodiscard]] bool Visible() const { return m_visible; }
    void setVisible(bool visible);

    // Set as 0x00BBGGRR, as colours are stored in the form's description;
    // read as 0xRRGGBB for drawing.
    [[nodiscard]] std::uint32_t BorderColor() const;
    void setBorderColor(std::uint32_t bgr);
    [[nodiscard]] int BorderWidth() const { return m_width; }
    void setBorderWidth(int pixels);

private:
    void changed();

    PictureBox& m_container;
    float m_x1 = 0, m_y1 = 0, m_x2 = 0, m_y2 = 0;
    bool m_visible = true;
    std::uint32_t m_colour = 0; // black
    int m_width = 1;
};

} // namespace platform
