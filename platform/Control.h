#pragma once

#include "platform/Container.h"

class QWidget;

namespace platform {

// What every visible kind of control shares: a place and size in its
// container's units, visibility and a place in the tab order.
class Control
{
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control();

    [[nodiscard]] float Left() const;
    [[nodiscard]] float Top() const;
    [[nodiscard]] float Width() const;
    [[nodiscard]] float Height() const;
    void setLeft(float left);
    void setTop(float top);
    void setWidth(float width);
    void setHeight(float height);
    void Move(float left, float top, float width, float height);

    [[nodiscard]] bool Visible() const { return m_visible; }
    void setVisible(bool visible);

    [[nodiscard]] int TabIndex() const;
    void setTabIndex(int index);

    [[nodiscard]] QWidget* widget() const { return m_widget; }

    // The widget property that carries the tab index, for the form's tab order.
    static constexpr const char* TabIndexProperty = "tessarineTabIndex";

protected:
    Control(Container& container, QWidget* widget);
    // The smallest outer size, in pixels, that still leaves a drawing area.
    [[nodiscard]] virtual int minimumOuterPixels() const { return 0; }
    virtual void outerSizeChanged() {}

    Container& m_container;

private:
    void setPixelWidth(int pixels);
    void setPixelHeight(int pixels);

    QWidget* m_widget;
    bool m_visible = true;
};

} // namespace platform
