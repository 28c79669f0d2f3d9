#pragma once

#include "platform/Container.h"
#include "platform/Control.h"
#include "platform/DataObject.h"
#include "platform/Picture.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Line;
class PictureBoxWidget;

// A box that holds a picture and a persistent drawing (its Image), takes
// drawing through PaintPicture and can contain other controls and lines.
class PictureBox : public Control, public Container
{
public:
    enum Border { NoBorder = 0, FixedSingle = 1 };

    explicit PictureBox(Container& container);
    // A box inside another box.
    explicit PictureBox(PictureBox& container) : PictureBox(static_cast<Container&>(container)) {}
    ~PictureBox() override;

    // The picture; setting it redraws the persistent drawing from it alone
    // (the empty picture clears the drawing).
    [[nodiscard]] platform::Picture Picture() const { return m_picture; }
    void setPicture(const platform::Picture& picture);

    // The persistent drawing at the drawing area's size.
    [[nodiscard]] platform::Picture Image() const;

    // Draws `picture` scaled into (X1, Y1, Width1, Height1); the second form
    // draws only its source rectangle (X2, Y2, Width2, Height2).  All values
    // are in this box's scale units; the source rectangle is measured on the
    // picture at its own size.  What falls outside the drawing area is cut
    // off.  Plain copy, smooth filtering where the picture is resampled.
    void PaintPicture(const platform::Picture& picture, float X1, float Y1, float Width1,
                      float Height1);
    void PaintPicture(const platform::Picture& picture, float X1, float Y1, float Width1,
                      float Height1, float X2, float Y2, float Width2, float Height2);

    // The drawing area in this box's own units.
    [[nodiscard]] float ScaleWidth() const;
    [[nodiscard]] float ScaleHeight() const;
    // A box measures in twips unless given a user scale that spans the
    // drawing area with the given number of units across and down.
    void setUserScale(float scaleWidth, float scaleHeight);

    [[nodiscard]] bool AutoRedraw() const { return m_autoRedraw; }
    void setAutoRedraw(bool autoRedraw) { m_autoRedraw = autoRedraw; }
    [[nodiscard]] bool AutoSize() const { return m_autoSize; }
    void setAutoSize(bool autoSize) { m_autoSize = autoSize; }
    [[nodiscard]] Border BorderStyle() const { return m_border; }
    void setBorderStyle(Border border);
    void setToolTipText(const QString& text);
    [[nodiscard]] QString ToolTipText() const;
    // 0 none, 1 manual: a drop raises OLEDragDrop.
    void setOLEDropMode(int mode);

    // Raised after something was dropped on the box.
    std::function<void(DataObject&)> OLEDragDrop;

    // Container
    [[nodiscard]] QWidget* childParent() const override;
    [[nodiscard]] Scale scale() const override { return m_scale; }
    [[nodiscard]] int originX() const override { return borderPixels(); }
    [[nodiscard]] int originY() const override { return borderPixels(); }

private:
    friend class Line;
    friend class PictureBoxWidget;

    [[nodiscard]] int borderPixels() const { return m_border == FixedSingle ? 2 : 0; }
    [[nodiscard]] int areaWidthPixels() const;
    [[nodiscard]] int areaHeightPixels() const;
    [[nodiscard]] int minimumOuterPixels() const override { return 2 * borderPixels() + 1; }
    void outerSizeChanged() override;
    void resizeDrawing();
    void redrawFromPicture();
    void settleDrawing() const;
    QImage& drawingToPaint(bool coversAll);
    void paint(const QImage& image, double x, double y, double width, double height, double sx,
               double sy, double sw, double sh);
    void addLine(Line* line) { m_lines.push_back(line); }
    void removeLine(Line* line);
    void repaint();

    PictureBoxWidget* m_box;
    platform::Picture m_picture;
    // The drawing is kept lazily: while m_unsettled, it is the background
    // colour at m_area's size with m_drawing (possibly null) at its top-left
    // corner and m_unsettledLook's metadata, and is made only when somebody
    // looks at it or draws into part of it.  A 24-megapixel picture that is
    // replaced or cleared right away then never costs a second buffer.
    // m_drawing may also borrow another picture's rows (copied on a write).
    mutable QImage m_drawing;
    mutable QImage m_unsettledLook; // 1 x 1, carries the metadata only
    mutable bool m_unsettled = false;
    mutable bool m_borrowed = false; // m_drawing reads another picture's rows
    QSize m_area;
    std::vector<Line*> m_lines;
    Scale m_scale = Twips;
    bool m_userScale = false;
    float m_userScaleWidth = 0;
    float m_userScaleHeight = 0;
    bool m_autoRedraw = false;
    bool m_autoSize = false;
    Border m_border = FixedSingle;
};

} // namespace platform
