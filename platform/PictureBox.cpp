#include "platform/PictureBox.h"

#include "platform/Line.h"
#include "platform/RuntimeError.h"

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

void PictureBox::setScaleModeTwips()
{
    m_userScale = false;
    m_scale = Twips;
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

// The drawing follows the drawing area's size; what was drawn stays at the
// top-left corner and new space takes the background colour.
void PictureBox::resizeDrawing()
{
    const QSize area(areaWidthPixels(), areaHeightPixels());
    if (m_drawing.size() == area)
        return;
    QImage drawing(area, QImage::Format_RGB32);
    drawing.fill(m_box->palette().color(QPalette::Window));
    if (!m_drawing.isNull()) {
        QPainter painter(&drawing);
        painter.drawImage(0, 0, m_drawing);
    }
    m_drawing = std::move(drawing);
    if (m_userScale)
        setUserScale(m_userScaleWidth, m_userScaleHeight);
    repaint();
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

void PictureBox::redrawFromPicture()
{
    const QImage& image = m_picture.image();
    if (image.size() == m_drawing.size() && image.format() == QImage::Format_RGB32) {
        m_drawing = image; // shared, not copied
    } else {
        m_drawing.fill(m_box->palette().color(QPalette::Window));
        if (!image.isNull()) {
            QPainter painter(&m_drawing);
            painter.drawImage(0, 0, image);
        }
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

    const QRect area(QPoint(0, 0), m_drawing.size());
    const QRect imageRect = image.rect();
    // The exact case, as when a picture whose sides divide by three is cut:
    // the source is whole pixels, as large as the drawing area, and fills it.
    // Copy the rows (or share the whole picture) instead of resampling.
    if (isWhole(target) && isWhole(source) && whole(target) == area &&
        whole(source).size() == area.size() && imageRect.contains(whole(source)) &&
        image.format() == QImage::Format_RGB32) {
        const QRect rows = whole(source);
        m_drawing = rows == imageRect ? image : image.copy(rows);
        repaint();
        return;
    }

    QPainter painter(&m_drawing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool wholePicture = source == QRectF(imageRect);
    if (wholePicture && isWhole(target) && target.width() >= 1 && target.height() >= 1 &&
        (target.width() < image.width() || target.height() < image.height())) {
        const QRect t = whole(target);
        painter.drawImage(t.topLeft(), reduced(image, t.size()));
    } else {
        painter.drawImage(target, image, source);
    }
    painter.end();
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
