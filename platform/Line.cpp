#include "platform/Line.h"

#include "platform/PictureBox.h"

namespace platform {

Line::Line(PictureBox& container) : m_container(container)
{
    m_container.addLine(this);
}

Line::~Line()
{
    m_container.removeLine(this);
}

void Line::changed()
{
    m_container.repaint();
}

void Line::setX1(float value)
{
    m_x1 = value;
    changed();
}

void Line::setY1(float value)
{
    m_y1 = value;
    changed();
}

void Line::setX2(float value)
{
    m_x2 = value;
    changed();
}

void Line::setY2(float value)
{
    m_y2 = value;
    changed();
}

void Line::setVisible(bool visible)
{
    m_visible = visible;
    changed();
}

std::uint32_t Line::BorderColor() const
{
    const std::uint32_t r = m_colour & 0xFF, g = (m_colour >> 8) & 0xFF,
                        b = (m_colour >> 16) & 0xFF;
    return (r << 16) | (g << 8) | b;
}

void Line::setBorderColor(std::uint32_t bgr)
{
    m_colour = bgr & 0xFFFFFF;
    changed();
}

void Line::setBorderWidth(int pixels)
{
    m_width = pixels < 1 ? 1 : pixels;
    changed();
}

} // namespace platform
