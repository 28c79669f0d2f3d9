#include "platform/Control.h"

#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace platform {

Control::Control(Container& container, QWidget* widget) : m_container(container), m_widget(widget)
{
}

// The widget belongs to its parent widget, which deletes it.
Control::~Control() = default;

float Control::Left() const
{
    return m_container.scale().xFromPixels(m_widget->x() - m_container.originX());
}

float Control::Top() const
{
    return m_container.scale().yFromPixels(m_widget->y() - m_container.originY());
}

float Control::Width() const
{
    return m_container.scale().xFromPixels(m_widget->width());
}

float Control::Height() const
{
    return m_container.scale().yFromPixels(m_widget->height());
}

void Control::setLeft(float left)
{
    m_widget->move(roundToPixel(m_container.scale().xToPixels(left)) + m_container.originX(),
                   m_widget->y());
}

void Control::setTop(float top)
{
    m_widget->move(m_widget->x(),
                   roundToPixel(m_container.scale().yToPixels(top)) + m_container.originY());
}

void Control::setWidth(float width)
{
    setPixelWidth(roundToPixel(m_container.scale().xToPixels(width)));
}

void Control::setHeight(float height)
{
    setPixelHeight(roundToPixel(m_container.scale().yToPixels(height)));
}

void Control::Move(float left, float top, float width, float height)
{
    setLeft(left);
    setTop(top);
    setWidth(width);
    setHeight(height);
}

void Control::setPixelWidth(int pixels)
{
    m_widget->resize(std::max(pixels, minimumOuterPixels()), m_widget->height());
    outerSizeChanged();
}

void Control::setPixelHeight(int pixels)
{
    m_widget->resize(m_widget->width(), std::max(pixels, minimumOuterPixels()));
    outerSizeChanged();
}

void Control::setVisible(bool visible)
{
    m_visible = visible;
    m_widget->setVisible(visible);
}

int Control::TabIndex() const
{
    return m_widget->property(TabIndexProperty).toInt();
}

void Control::setTabIndex(int index)
{
    m_widget->setProperty(TabIndexProperty, index);
}

} // namespace platform
