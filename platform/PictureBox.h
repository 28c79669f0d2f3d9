#pragma once

#include "platform/DataObject.h"
#include "platform/Picture.h"
#include "platform/Scale.h"

namespace platform {

class Form;
class Line;
class PreviewWidget;

// A picture box that is never shown: a picture and a persistent drawing in
// memory, as large as the picture asks and no larger.  It measures in twips
// and has no frame, so its drawing area is its whole size.
class PictureBox
{
public:
    PictureBox() = default;
    virtual ~PictureBox() = default;
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;

    // Setting the picture redraws the drawing from it alone; the empty
    // picture clears both.  With AutoSize the box takes the picture's size.
    // Allocations that fail raise run-time error 7, out of memory.
    [[nodiscard]] platform::Picture Picture() const { return m_picture; }
    void setPicture(const platform::Picture& picture);
    void setAutoSize(bool autoSize) { m_autoSize = autoSize; }

    // Clears what was drawn, leaving the picture alone; its memory goes.
    void Cls();

    // The persistent drawing at the drawing area's size.
    [[nodiscard]] platform::Picture Image() const;

    // Draws `picture` scaled into (X1, Y1, Width1, Height1); the second form
    // draws only its part (X2, Y2, Width2, Height2).  Everything is in this
    // box's units; the part is measured on the picture at its own size.
    // What falls outside the drawing area is cut off.
    void PaintPicture(const platform::Picture& picture, double X1, double Y1, double Width1,
                      double Height1);
    void PaintPicture(const platform::Picture& picture, double X1, double Y1, double Width1,
                      double Height1, double X2, double Y2, double Width2, double Height2);

    // The outer size, in twips.  A new size clears the drawing.
    [[nodiscard]] double Width() const { return Twips.fromPixels(m_area.width()); }
    [[nodiscard]] double Height() const { return Twips.fromPixels(m_area.height()); }
    void setWidth(double width);
    void setHeight(double height);

    // The drawing area in this box's own units.
    [[nodiscard]] double ScaleWidth() const { return m_scaleX.fromPixels(m_area.width()); }
    [[nodiscard]] double ScaleHeight() const { return m_scaleY.fromPixels(m_area.height()); }

protected:
    void resizeArea(QSize pixels);
    virtual void drawingChanged() {}

    // A null drawing is the picture alone on the background, made when it
    // is first needed: a cleared box holds no pixels of its own.
    QImage m_drawing;
    QSize m_area{1, 1};
    Scale m_scaleX = Twips;
    Scale m_scaleY = Twips;

private:
    void paint(const platform::Picture& picture, const QRectF& target, const QRectF& source);
    // A rectangle in the box's scale, in pixels.
    [[nodiscard]] QRectF toPixels(double x, double y, double width, double height) const;
    QImage& drawingToPaint();
    [[nodiscard]] QImage pictureOnly() const;

    platform::Picture m_picture;
    bool m_autoSize = false;
};

// The one visible picture box: the preview.  It shows its drawing inside a
// sunken 2-pixel frame, with the lines it contains drawn over it, measures
// in a user scale, and takes dropped files.
class VisiblePictureBox : public PictureBox
{
public:
    explicit VisiblePictureBox(Form& form);

    // Place and outer size on the form, in twips.
    void Move(double left, double top, double width, double height);
    // `width` x `height` units span the drawing area.
    void setUserScale(double width, double height);
    void setToolTipText(const QString& text);
    // What assistive technology says of the preview: its name, and what it shows.
    void setAccessibleName(const QString& name);
    void setAccessibleDescription(const QString& description);
    void setTabIndex(int index);
    // 1: a drop raises OLEDragDrop.
    void setOLEDropMode(int mode);

    // Raised after files were dropped on the box.
    std::function<void(DataObject&)> OLEDragDrop;

private:
    friend class Line;
    friend class PreviewWidget;

    void drawingChanged() override;

    PreviewWidget* m_widget; // belongs to the window, which deletes it
    std::vector<const Line*> m_lines;
};

// A straight line over whatever is drawn into the preview, its ends in the
// preview's units.
class Line
{
public:
    explicit Line(VisiblePictureBox& container) : m_container(container)
    {
        m_container.m_lines.push_back(this);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // clang-format off
    void setVisible(bool visible) { m_visible = visible; changed(); }
    void setX1(double value) { m_x1 = value; changed(); }
    void setY1(double value) { m_y1 = value; changed(); }
    void setX2(double value) { m_x2 = value; changed(); }
    void setY2(double value) { m_y2 = value; changed(); }
    // Colour as 0x00BBGGRR; width in pixels.
    void setBorderColor(unsigned bgr) { m_bgr = bgr & 0xFFFFFF; changed(); }
    void setBorderWidth(int pixels) { m_width = pixels < 1 ? 1 : pixels; changed(); }
    // clang-format on

private:
    friend class PreviewWidget;

    void changed() { m_container.drawingChanged(); }

    VisiblePictureBox& m_container;
    bool m_visible = true;
    double m_x1 = 0, m_y1 = 0, m_x2 = 0, m_y2 = 0;
    unsigned m_bgr = 0;
    int m_width = 1;
};

} // namespace platform
