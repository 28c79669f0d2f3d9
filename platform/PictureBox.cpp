#include "platform/PictureBox.h"

#include "platform/Background.h"
#include "platform/Form.h"
#include "platform/RuntimeError.h"

#include <QDir>
#include <QDropEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTimer>

namespace platform {
namespace {

// Qt answers a failed allocation with a null picture; to a handler it is
// the run-time error "out of memory", which a trap can catch.
QImage allocated(QImage image)
{
    if (image.isNull()) throw RuntimeError(RuntimeError::OutOfMemory, QStringLiteral("内存不足"));
    return image;
}

// A box's background: the window colour of the desktop's theme.  Three bytes a pixel, in the
// order a bitmap file keeps them: a tile drawn here takes a quarter less memory and is written
// row by row as it is.
QImage background(QSize size)
{
    QImage image = allocated(QImage(size, QImage::Format_BGR888));
    image.fill(QGuiApplication::palette().color(QPalette::Window));
    return image;
}

bool isWhole(double value)
{
    return std::floor(value) == value;
}

// A part of the picture that is whole pixels and exactly as large as the
// drawing area: the tile of a picture whose sides divide by three.  Its rows
// are taken as they are, nothing is resampled.  The sizes come from whole
// numbers of twips through exact divisions, so no tolerance is needed.
bool isExactCopy(QSize size, const QRectF& target, const QRectF& source, QSize area)
{
    return target == QRectF(QPointF(0, 0), QSizeF(area)) && source.size() == QSizeF(area) &&
           isWhole(source.x()) && isWhole(source.y()) &&
           QRectF(QPointF(0, 0), QSizeF(size)).contains(source);
}

// The rows of `part` of `image`, read in place: the tiles of a picture whose
// sides divide by three are written straight from the picture's own rows.
// Copying them instead costs about 25 ms for the nine tiles of a
// 24-megapixel photo, a quarter of the whole cut.  The view keeps the
// picture alive, and Qt copies the rows before anybody draws into it.
QImage rowsOf(const QImage& image, const QRect& part)
{
    auto* kept = new QImage(image);
    const uchar* first = kept->constScanLine(part.y()) + qsizetype(part.x()) * 4;
    QImage rows(
        first, part.width(), part.height(), kept->bytesPerLine(), kept->format(),
        [](void* view) { delete static_cast<QImage*>(view); }, kept);
    rows.setDotsPerMeterX(image.dotsPerMeterX());
    rows.setDotsPerMeterY(image.dotsPerMeterY());
    return rows;
}

// Draws `part` of `picture`, measured on the picture as it is shown, into `target`. A picture
// stored turned is turned as it is drawn, never as a whole: its stored rows under the part
// are mapped straight onto the target. Qt shows a picture by mirroring it, then flipping it,
// then turning it a quarter clockwise, as its turn says.
void drawShown(QPainter& painter, const Picture& picture, const QRectF& target, const QRectF& part)
{
    const QImage& stored = picture.image();
    if (!picture.turn()) return painter.drawImage(target, stored, part);
    QTransform showing;
    if (picture.turn().testFlag(QImageIOHandler::TransformationMirror))
        showing *= QTransform(-1, 0, 0, 1, stored.width(), 0);
    if (picture.turn().testFlag(QImageIOHandler::TransformationFlip))
        showing *= QTransform(1, 0, 0, -1, 0, stored.height());
    if (picture.turn().testFlag(QImageIOHandler::TransformationRotate90))
        showing *= QTransform(0, 1, -1, 0, stored.height(), 0);
    const QRectF rows = showing.inverted().mapRect(part);
    painter.setTransform(
        showing * QTransform::fromTranslate(-part.x(), -part.y()) *
        QTransform::fromScale(target.width() / part.width(), target.height() / part.height()) *
        QTransform::fromTranslate(target.x(), target.y()));
    painter.drawImage(rows, stored, rows);
}

// A large picture reduced for a small box: first sampled down to twice the
// target size, then averaged by Qt, so that each pixel of the preview is the
// mean of four samples.  On a 24-megapixel photo this takes about 4 ms,
// where four times the size took five times as long.  The sampling is done here
// because Qt's own scaling works in 16.16 fixed point and goes wrong on a
// side longer than 32767 pixels, as a panorama strip has.
QImage reduced(const QImage& image, QSize target)
{
    const QSize step = image.size().boundedTo(target * 2);
    if (step == image.size())
        return allocated(image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    QImage sampled = allocated(QImage(step, QImage::Format_RGB32));
    std::vector<int> columns(std::size_t(step.width()));
    for (int x = 0; x < step.width(); ++x)
        columns[std::size_t(x)] = int((2 * qint64(x) + 1) * image.width() / (2 * step.width()));
    for (int y = 0; y < step.height(); ++y) {
        const int row = int((2 * qint64(y) + 1) * image.height() / (2 * step.height()));
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(row));
        auto* out = reinterpret_cast<QRgb*>(sampled.scanLine(y));
        for (int x = 0; x < step.width(); ++x)
            out[x] = in[columns[std::size_t(x)]];
    }
    return allocated(sampled.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

} // namespace

void PictureBox::setPicture(const platform::Picture& picture)
{
    m_picture = picture;
    if (m_autoSize && !picture.isEmpty()) m_area = picture.size();
    Cls();
}

void PictureBox::Cls()
{
    m_drawing = QImage();
    drawingChanged();
}

// The drawing as the picture alone makes it: a picture that fills the box
// exactly and is stored upright is shared, not copied; otherwise what the
// drawing area covers of it is drawn at the top-left corner of the background.
QImage PictureBox::pictureOnly() const
{
    const QImage& image = m_picture.image();
    if (!m_picture.turn() && image.size() == m_area && image.format() == QImage::Format_RGB32)
        return image;
    QImage drawing = background(m_area);
    const QRectF covered = QRectF(drawing.rect()) & QRectF(QPointF(0, 0), m_picture.size());
    QPainter painter(&drawing);
    if (!covered.isEmpty()) drawShown(painter, m_picture, covered, covered);
    return drawing;
}

// A picture stored turned that fills the box is its drawing as it stands: it stays turned.
platform::Picture PictureBox::Image() const
{
    if (m_drawing.isNull() && m_picture.turn() && m_picture.size() == m_area) return m_picture;
    return platform::Picture(m_drawing.isNull() ? pictureOnly() : m_drawing);
}

void PictureBox::setWidth(double width)
{
    resizeArea(QSize(roundToPixel(Twips.toPixels(width)), m_area.height()));
}

void PictureBox::setHeight(double height)
{
    resizeArea(QSize(m_area.width(), roundToPixel(Twips.toPixels(height))));
}

// A drawing area has at least one pixel each way, so that a picture narrower
// than three pixels still gives tiles.
void PictureBox::resizeArea(QSize pixels)
{
    pixels = pixels.expandedTo(QSize(1, 1));
    if (pixels == m_area) return;
    m_area = pixels;
    Cls();
}

QRectF PictureBox::toPixels(double x, double y, double width, double height) const
{
    return {m_scaleX.toPixels(x), m_scaleY.toPixels(y), m_scaleX.toPixels(width),
            m_scaleY.toPixels(height)};
}

void PictureBox::PaintPicture(const platform::Picture& picture, double X1, double Y1, double Width1,
                              double Height1)
{
    paint(picture, toPixels(X1, Y1, Width1, Height1), QRectF(QPointF(0, 0), picture.size()));
}

void PictureBox::PaintPicture(const platform::Picture& picture, double X1, double Y1, double Width1,
                              double Height1, double X2, double Y2, double Width2, double Height2)
{
    paint(picture, toPixels(X1, Y1, Width1, Height1), toPixels(X2, Y2, Width2, Height2));
}

QImage& PictureBox::drawingToPaint()
{
    if (m_drawing.isNull()) m_drawing = pictureOnly();
    return m_drawing;
}

// Target and source in pixels, the source measured on the picture as it is shown.
void PictureBox::paint(const platform::Picture& picture, const QRectF& target, const QRectF& source)
{
    if (picture.isEmpty())
        throw RuntimeError(RuntimeError::InvalidPicture, QStringLiteral("无效的图片"));
    for (const double value : {target.x(), target.y(), target.width(), target.height(), source.x(),
                               source.y(), source.width(), source.height()})
        if (!std::isfinite(value))
            throw RuntimeError(RuntimeError::Overflow, QStringLiteral("溢出"));
    const QSize size = picture.size();
    const bool exact = isExactCopy(size, target, source, m_area);
    if (exact && !picture.turn() && picture.image().format() == QImage::Format_RGB32) {
        m_drawing = rowsOf(picture.image(), source.toRect());
    } else if (source == QRectF(QPointF(0, 0), QSizeF(size)) && target.topLeft() == QPointF(0, 0) &&
               isWhole(target.width()) && isWhole(target.height()) &&
               target.width() <= size.width() && target.height() <= size.height()) {
        // The preview: a whole picture reduced into the box, then turned upright at that size.
        const QSize shown(int(target.width()), int(target.height()));
        const bool across = picture.turn().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize stored = across ? shown.transposed() : shown;
        const platform::Picture reduction(reduced(picture.image(), stored), picture.turn());
        QPainter painter(&drawingToPaint());
        drawShown(painter, reduction, target, QRectF(QPointF(0, 0), QSizeF(shown)));
    } else {
        // Resampled smoothly, unless it is a turned picture's part copied pixel for pixel.
        QPainter painter(&drawingToPaint());
        painter.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
        drawShown(painter, picture, target, source);
    }
    drawingChanged();
}

// The preview's widget: the drawing inside the frame, the lines over it.
class PreviewWidget final : public QFrame
{
public:
    PreviewWidget(VisiblePictureBox& owner, QWidget* parent) : QFrame(parent), m_owner(owner)
    {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QFrame::paintEvent(event);
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setClipRect(area);
        if (m_owner.m_drawing.isNull())
            painter.fillRect(area, palette().color(QPalette::Window));
        else
            painter.drawImage(area.topLeft(), m_owner.m_drawing);
        for (const Line* line : m_owner.m_lines) {
            if (!line->m_visible) continue;
            const unsigned bgr = line->m_bgr;
            painter.setPen(QPen(QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int(bgr >> 16)),
                                line->m_width, Qt::SolidLine, Qt::FlatCap));
            const Scale& x = m_owner.m_scaleX;
            const Scale& y = m_owner.m_scaleY;
            painter.drawLine(
                area.topLeft() + QPointF(x.toPixels(line->m_x1), y.toPixels(line->m_y1)),
                area.topLeft() + QPointF(x.toPixels(line->m_x2), y.toPixels(line->m_y2)));
        }
    }

    // While a handler waits for work in the background, drops are turned
    // away, so that no second load starts inside the first.
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (acceptDrops() && !waiting()) event->acceptProposedAction();
    }

    void dropEvent(QDropEvent* event) override
    {
        QStringList files; // a web address is an entry, but not a file
        for (const QUrl& url : event->mimeData()->urls())
            files << (url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : QString());
        event->acceptProposedAction();
        // The handler may wait in a message box; let the other program's
        // drag finish first instead of holding it until the box closes.
        QTimer::singleShot(0, this, [this, data = DataObject(files)]() mutable {
            if (m_owner.OLEDragDrop) dispatchEvent([&] { m_owner.OLEDragDrop(data); });
        });
    }

private:
    VisiblePictureBox& m_owner;
};

VisiblePictureBox::VisiblePictureBox(Form& form) : m_widget(new PreviewWidget(*this, form.widget()))
{
}

void VisiblePictureBox::Move(double left, double top, double width, double height)
{
    Form::place(m_widget, left, top, width, height);
    resizeArea(m_widget->contentsRect().size());
}

void VisiblePictureBox::setUserScale(double width, double height)
{
    m_scaleX = Scale{width, double(m_area.width())};
    m_scaleY = Scale{height, double(m_area.height())};
}

void VisiblePictureBox::setToolTipText(const QString& text)
{
    m_widget->setToolTip(text);
}

void VisiblePictureBox::setAccessibleName(const QString& name)
{
    m_widget->setAccessibleName(name);
}

void VisiblePictureBox::setAccessibleDescription(const QString& description)
{
    m_widget->setAccessibleDescription(description);
}

void VisiblePictureBox::setTabIndex(int index)
{
    Form::setTabIndex(m_widget, index);
}

void VisiblePictureBox::setOLEDropMode(int mode)
{
    m_widget->setAcceptDrops(mode == 1);
}

void VisiblePictureBox::drawingChanged()
{
    m_widget->update();
}

} // namespace platform
