#include "platform/PictureBox.h"

#include "platform/Line.h"
#include "platform/RuntimeError.h"

#include <QColorSpace>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <thread>

namespace platform {

class PictureBoxWidget final : public QFrame
{
public:
    PictureBoxWidget(PictureBox& owner, QWidget* parent) : QFrame(parent), m_owner(owner)
    {
        setFocusPolicy(Qt::StrongFocus);
    }

    bool m_dropTarget = false;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QFrame::paintEvent(event); // the frame
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setClipRect(area);
        if (m_owner.m_unsettled)
            painter.fillRect(area, palette().color(QPalette::Window));
        painter.drawImage(area.topLeft(), m_owner.m_drawing);
        // Lines lie over whatever was drawn into the box, and are not part
        // of its persistent drawing.
        const Scale scale = m_owner.scale();
        for (const Line* line : m_owner.m_lines) {
            if (!line->Visible())
                continue;
            QPen pen(QColor::fromRgb(line->BorderColor()), line->BorderWidth(), Qt::SolidLine,
                     Qt::FlatCap);
            painter.setPen(pen);
            painter.drawLine(QPointF(area.x() + scale.xToPixels(line->X1()),
                                     area.y() + scale.yToPixels(line->Y1())),
                             QPointF(area.x() + scale.xToPixels(line->X2()),
                                     area.y() + scale.yToPixels(line->Y2())));
        }
    }

    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (m_dropTarget)
            event->acceptProposedAction();
    }

    void dragMoveEvent(QDragMoveEvent* event) override
    {
        if (m_dropTarget)
            event->acceptProposedAction();
    }

    void dropEvent(QDropEvent* event) override
    {
        if (!m_dropTarget)
            return;
        QStringList files;
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile())
                files << QDir::toNativeSeparators(url.toLocalFile());
        }
        event->acceptProposedAction();
        // The handler may wait in a message box; let the other program's
        // drag finish first instead of holding it until the box closes.
        QTimer::singleShot(0, this, [this, data = DataObject(files)]() mutable {
            if (m_owner.OLEDragDrop)
                dispatchEvent([&] { m_owner.OLEDragDrop(data); });
        });
    }

private:
    PictureBox& m_owner;
};

PictureBox::PictureBox(Container& container)
    : Control(container, new PictureBoxWidget(*this, container.childParent())),
      m_box(static_cast<PictureBoxWidget*>(widget()))
{
    setBorderStyle(FixedSingle);
    resizeDrawing();
}

PictureBox::~PictureBox() = default;

QWidget* PictureBox::childParent() const
{
    return m_box;
}

void PictureBox::setBorderStyle(Border border)
{
    m_border = border;
    if (border == FixedSingle) {
        m_box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_box->setLineWidth(2);
    } else {
        m_box->setFrameStyle(QFrame::NoFrame);
        m_box->setLineWidth(0);
    }
    outerSizeChanged();
}

void PictureBox::setToolTipText(const QString& text)
{
    m_box->setToolTip(text);
}

QString PictureBox::ToolTipText() const
{
    return m_box->toolTip();
}

void PictureBox::setOLEDropMode(int mode)
{
    m_box->m_dropTarget = mode == 1;
    m_box->setAcceptDrops(mode == 1);
}

int PictureBox::areaWidthPixels() const
{
    return std::max(1, m_box->width() - 2 * borderPixels());
}

int PictureBox::areaHeightPixels() const
{
    return std::max(1, m_box->height() - 2 * borderPixels());
}

float PictureBox::ScaleWidth() const
{
    return m_userScale ? m_userScaleWidth : m_scale.xFromPixels(areaWidthPixels());
}

float PictureBox::ScaleHeight() const
{
    return m_userScale ? m_userScaleHeight : m_scale.yFromPixels(areaHeightPixels());
}

void PictureBox::setUserScale(float scaleWidth, float scaleHeight)
{
    if (!(scaleWidth > 0) || !(scaleHeight > 0))
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Invalid scale"));
    m_userScale = true;
    m_userScaleWidth = scaleWidth;
    m_userScaleHeight = scaleHeight;
    m_scale = Scale{areaWidthPixels() * TwipsPerPixel / scaleWidth,
                    areaHeightPixels() * TwipsPerPixel / scaleHeight};
}

void PictureBox::outerSizeChanged()
{
    if (m_box->size().isValid())
        resizeDrawing();
}

namespace {

// What an image carries besides its pixels.  A drawing that is made anew
// where the old one would have been drawn over keeps the old one's, so the
// bitmaps written from it stay the same to the byte (dots per metre).
void copyMetadata(const QImage& from, QImage& to)
{
    to.setDotsPerMeterX(from.dotsPerMeterX());
    to.setDotsPerMeterY(from.dotsPerMeterY());
    to.setOffset(from.offset());
    to.setDevicePixelRatio(from.devicePixelRatio());
    to.setColorSpace(from.colorSpace());
    for (const QString& key : from.textKeys())
        to.setText(key, from.text(key));
}

QImage metadataOf(const QImage& image)
{
    QImage look(1, 1, QImage::Format_RGB32);
    if (!image.isNull())
        copyMetadata(image, look);
    return look;
}

// The rows `rect` of `image` without copying them: the result reads the
// picture's own pixels and keeps it alive; drawing into it copies them first.
QImage borrowedRows(const QImage& image, const QRect& rect)
{
    if (rect == image.rect())
        return image;
    auto* owner = new QImage(image);
    QImage rows(owner->constScanLine(rect.y()) + qsizetype(rect.x()) * 4, rect.width(),
                rect.height(), owner->bytesPerLine(), owner->format(),
                [](void* held) { delete static_cast<QImage*>(held); }, owner);
    copyMetadata(image, rows);
    return rows;
}

// The top-left part of an RGB32 image that fits into `size`.
QImage fittedInto(const QImage& image, QSize size)
{
    return borrowedRows(image, QRect(QPoint(0, 0), image.size().boundedTo(size)));
}

} // namespace

// The drawing follows the drawing area's size; what was drawn stays at the
// top-left corner and new space takes the background colour.
void PictureBox::resizeDrawing()
{
    const QSize area(areaWidthPixels(), areaHeightPixels());
    if (m_area == area)
        return;
    m_area = area;
    // A drawing made at the new size: what was drawn is kept, cut to the
    // new size at once so that growing again later shows background there.
    if (!m_drawing.isNull())
        m_drawing = fittedInto(m_drawing, area);
    m_unsettledLook = QImage(1, 1, QImage::Format_RGB32);
    m_unsettled = true;
    if (m_userScale)
        setUserScale(m_userScaleWidth, m_userScaleHeight);
    repaint();
}

// Makes the drawing that is kept lazily, as the area's background with the
// remembered top-left part on it.
void PictureBox::settleDrawing() const
{
    if (!m_unsettled)
        return;
    QImage drawing(m_area, QImage::Format_RGB32);
    copyMetadata(m_unsettledLook, drawing);
    drawing.fill(m_box->palette().color(QPalette::Window));
    if (!m_drawing.isNull()) {
        QPainter painter(&drawing);
        painter.drawImage(0, 0, m_drawing);
    }
    m_drawing = std::move(drawing);
    m_unsettled = false;
    m_borrowed = false;
}

platform::Picture PictureBox::Image() const
{
    settleDrawing();
    return platform::Picture(m_drawing);
}

// The drawing, ready to be drawn into.  When what follows covers every
// pixel, a drawing that is shared, borrowed or not yet made is replaced by a
// new one left unfilled, instead of being copied or filled first.
QImage& PictureBox::drawingToPaint(bool coversAll)
{
    if (coversAll && (m_unsettled || m_borrowed || !m_drawing.isDetached())) {
        QImage fresh(m_area, QImage::Format_RGB32);
        copyMetadata(m_unsettled ? m_unsettledLook : m_drawing, fresh);
        m_drawing = std::move(fresh);
        m_unsettled = false;
        m_borrowed = false;
    }
    settleDrawing();
    if (m_borrowed) {
        m_drawing.detach(); // copies the borrowed rows
        m_borrowed = false;
    }
    return m_drawing; // QPainter copies it if it is still shared
}

void PictureBox::setPicture(const platform::Picture& picture)
{
    m_picture = picture;
    if (m_autoSize && !picture.isEmpty()) {
        const QSize size = picture.image().size();
        m_box->resize(size.width() + 2 * borderPixels(), size.height() + 2 * borderPixels());
        resizeDrawing();
    }
    redrawFromPicture();
}

// The picture at the top-left corner over the background.  An RGB32
// picture is not copied: the drawing shares it, or borrows the part of it
// that fits, until somebody draws into the drawing.
void PictureBox::redrawFromPicture()
{
    const QImage& image = m_picture.image();
    if (image.isNull() || image.format() == QImage::Format_RGB32) {
        const QImage look = metadataOf(m_unsettled ? m_unsettledLook : m_drawing);
        if (image.size() == m_area) {
            m_drawing = image; // shared, not copied
            m_unsettled = false;
            m_borrowed = false;
        } else {
            m_drawing = image.isNull() ? QImage() : fittedInto(image, m_area);
            m_unsettled = m_drawing.size() != m_area;
            m_borrowed = !image.isNull() && m_drawing.size() != image.size();
            m_unsettledLook = look;
            if (!m_unsettled)
                copyMetadata(look, m_drawing);
        }
    } else {
        QImage& drawing = drawingToPaint(true);
        drawing.fill(m_box->palette().color(QPalette::Window));
        QPainter painter(&drawing);
        painter.drawImage(0, 0, image);
    }
    repaint();
}

void PictureBox::PaintPicture(const platform::Picture& picture, float X1, float Y1, float Width1,
                              float Height1)
{
    const QImage& image = picture.image();
    paint(image, X1, Y1, Width1, Height1, 0, 0, image.width(), image.height());
}

void PictureBox::PaintPicture(const platform::Picture& picture, float X1, float Y1, float Width1,
                              float Height1, float X2, float Y2, float Width2, float Height2)
{
    paint(picture.image(), X1, Y1, Width1, Height1, m_scale.xToPixels(X2),
          m_scale.yToPixels(Y2), m_scale.xToPixels(Width2), m_scale.yToPixels(Height2));
}

namespace {

bool isWhole(double value)
{
    return std::abs(value - std::round(value)) < 1e-6;
}

bool isWhole(const QRectF& r)
{
    return isWhole(r.x()) && isWhole(r.y()) && isWhole(r.width()) && isWhole(r.height());
}

QRect whole(const QRectF& r)
{
    return QRect(int(std::lround(r.x())), int(std::lround(r.y())), int(std::lround(r.width())),
                 int(std::lround(r.height())));
}

// Shrinks a large picture for a small box with area averaging.  Very large
// reductions first drop to four times the target by sampling, which keeps
// the averaging cheap on 50-megapixel photos without visible aliasing.
QImage reduced(const QImage& image, QSize target)
{
    QImage source = image;
    if (source.width() > 4 * target.width() && source.height() > 4 * target.height())
        source = source.scaled(4 * target.width(), 4 * target.height(), Qt::IgnoreAspectRatio,
                               Qt::FastTransformation);
    return source.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Draws `source` of `image` smoothly scaled into `target`.  A large drawing
// is drawn as two bands of rows at once, on two threads: each painter draws
// the same picture with the same transformation and is only clipped to its
// band, so every pixel comes out exactly as from one painter.
void drawInBands(QImage& drawing, const QRectF& target, const QImage& image, const QRectF& source)
{
    constexpr qsizetype bandsFrom = 512 * 1024; // pixels; below that a thread costs more
    const int height = drawing.height();
    if (qsizetype(drawing.width()) * height < bandsFrom || height < 2 ||
        drawing.devicePixelRatio() != 1.0) {
        QPainter painter(&drawing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, image, source);
        return;
    }
    uchar* bits = drawing.bits(); // detached once, here, not by each painter
    auto band = [&](int top, int bottom) {
        QImage rows(bits, drawing.width(), height, drawing.bytesPerLine(), drawing.format());
        QPainter painter(&rows);
        painter.setClipRect(QRect(0, top, drawing.width(), bottom - top));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, image, source);
    };
    std::thread lower(band, height / 2, height);
    band(0, height / 2);
    lower.join();
}

} // namespace

// x, y, width, height in this box's units; the source in the picture's pixels.
void PictureBox::paint(const QImage& image, double x, double y, double width, double height,
                       double sx, double sy, double sw, double sh)
{
    if (image.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, QStringLiteral("Invalid picture"));
    const QRectF target(m_scale.xToPixels(x), m_scale.yToPixels(y), m_scale.xToPixels(width),
                        m_scale.yToPixels(height));
    const QRectF source(sx, sy, sw, sh);
    if (!std::isfinite(target.width()) || !std::isfinite(target.height()) ||
        !std::isfinite(source.width()) || !std::isfinite(source.height()))
        throw RuntimeError(RuntimeError::Overflow, QStringLiteral("Overflow"));

    const QRect area(QPoint(0, 0), m_area);
    const QRect imageRect = image.rect();
    // The exact case, as when a picture whose sides divide by three is cut:
    // the source is whole pixels, as large as the drawing area, and fills it.
    // Borrow the rows (or share the whole picture) instead of resampling; a
    // tile is then written straight from the picture's own rows.
    if (isWhole(target) && isWhole(source) && whole(target) == area &&
        whole(source).size() == area.size() && imageRect.contains(whole(source)) &&
        image.format() == QImage::Format_RGB32) {
        m_drawing = borrowedRows(image, whole(source));
        m_unsettled = false;
        m_borrowed = whole(source) != imageRect;
        repaint();
        return;
    }

    // An opaque picture drawn over the whole area leaves nothing of the old
    // drawing to keep.
    const bool coversAll = isWhole(target) && whole(target).contains(area) &&
                           QRectF(imageRect).contains(source) && !image.hasAlphaChannel();
    QImage& drawing = drawingToPaint(coversAll);
    const bool wholePicture = source == QRectF(imageRect);
    if (wholePicture && isWhole(target) && target.width() >= 1 && target.height() >= 1 &&
        (target.width() < image.width() || target.height() < image.height())) {
        const QRect t = whole(target);
        QPainter painter(&drawing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(t.topLeft(), reduced(image, t.size()));
    } else {
        drawInBands(drawing, target, image, source);
    }
    repaint();
}

void PictureBox::removeLine(Line* line)
{
    m_lines.erase(std::remove(m_lines.begin(), m_lines.end(), line), m_lines.end());
}

void PictureBox::repaint()
{
    m_box->update();
}

} // namespace platform
