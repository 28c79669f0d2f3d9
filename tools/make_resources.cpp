// Draws Tessarine's committed artwork: the window icon (.ico), the hicolor PNGs and SVG, and
// the thank-you card. Everything is drawn in code so the files can be regenerated exactly from
// this source; run tools/make-resources.sh after changing anything here.

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// 72 dpi. Without it QImage takes the screen's resolution and the written files would
// depend on the machine that produced them.
constexpr int kDotsPerMeter = 2835;

constexpr int kCardSize = 691;
const QString kThanksText = QStringLiteral("谢谢支持");
const QString kCjkFamily = QStringLiteral("Noto Sans CJK SC");

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

// The motif: a rounded "photo" cut by two white lines each way into nine equal tiles.
struct Motif
{
    QRectF frame;
    qreal radius = 0;
    qreal line = 0;
    qreal tile = 0;
};

// Icons get whole-pixel margins, lines and tiles: at 16 px a line that straddles two pixel
// columns turns into a grey smear and the three tiles come out unequal.
Motif iconMotif(int size)
{
    const int line = std::max(1, qRound(size / 18.0));
    int margin = std::max(1, qRound(size / 16.0));
    while ((size - 2 * margin - 2 * line) % 3 != 0)
        ++margin;
    const int frame = size - 2 * margin;
    return {QRectF(margin, margin, frame, frame), frame * 0.16, qreal(line),
            qreal((frame - 2 * line) / 3)};
}

// The picture inside the frame: a sunset over two hills, so the tiles read as the pieces
// of one photo rather than as nine coloured squares. Positions are fractions of the frame,
// so the raster icons and the SVG draw the same scene from the same numbers.
struct GradientStop
{
    qreal at;
    QColor colour;
};
const GradientStop kSky[] = {{0.0, QColor(0xFF, 0xD2, 0x7F)},
                             {0.55, QColor(0xFF, 0x8C, 0x69)},
                             {1.0, QColor(0xE0, 0x60, 0x7E)}};

const QColor kSunColour(0xFF, 0xF4, 0xD6);
constexpr qreal kSunX = 0.68;
constexpr qreal kSunY = 0.34;
constexpr qreal kSunRadius = 0.15; // of the frame's width

// A hill: from the left edge at `start` over one cubic curve to the right edge, then
// closed along the bottom. Each point is a fraction (x, y) of the frame.
struct Hill
{
    QPointF start, c1, c2, end;
    QColor colour;
};
const Hill kHills[] = {
    {{0.0, 0.68}, {0.30, 0.50}, {0.55, 0.56}, {1.0, 0.60}, QColor(0x3F, 0xA7, 0xA0)},
    {{0.0, 0.80}, {0.35, 0.92}, {0.70, 0.70}, {1.0, 0.84}, QColor(0x1F, 0x6F, 0x78)},
};

QPointF inFrame(const QRectF& r, const QPointF& f)
{
    return {r.left() + f.x() * r.width(), r.top() + f.y() * r.height()};
}

void paintScene(QPainter& p, const QRectF& r)
{
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    for (const GradientStop& stop : kSky)
        sky.setColorAt(stop.at, stop.colour);
    p.fillRect(r, sky);

    p.setPen(Qt::NoPen);
    p.setBrush(kSunColour);
    const qreal sun = kSunRadius * r.width();
    p.drawEllipse(inFrame(r, {kSunX, kSunY}), sun, sun);

    for (const Hill& hill : kHills) {
        QPainterPath path(inFrame(r, hill.start));
        path.cubicTo(inFrame(r, hill.c1), inFrame(r, hill.c2), inFrame(r, hill.end));
        path.lineTo(inFrame(r, {1.0, 1.0}));
        path.lineTo(inFrame(r, {0.0, 1.0}));
        p.fillPath(path, hill.colour);
    }
}

// The white cut lines: two each way, between whole tiles.
QList<QRectF> cutLines(const Motif& m)
{
    QList<QRectF> lines;
    const qreal x = m.frame.left();
    const qreal y = m.frame.top();
    for (int i = 1; i <= 2; ++i) {
        const qreal offset = i * m.tile + (i - 1) * m.line;
        lines.append(QRectF(x + offset, y, m.line, m.frame.height()));
        lines.append(QRectF(x, y + offset, m.frame.width(), m.line));
    }
    return lines;
}

// Renders the motif into its own layer and cuts that layer to the rounded frame with an
// antialiased mask; a clip path would leave jagged corners in the raster engine.
QImage motifLayer(const QSize& canvas, const Motif& m)
{
    QImage layer(canvas, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    paintScene(p, m.frame);
    for (const QRectF& line : cutLines(m))
        p.fillRect(line, Qt::white);

    // The mask covers the whole canvas: DestinationIn only touches the pixels it is drawn
    // on, so filling just the frame path would leave the square corners standing.
    QImage mask(canvas, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    QPainter mp(&mask);
    mp.setRenderHint(QPainter::Antialiasing);
    QPainterPath frame;
    frame.addRoundedRect(m.frame, m.radius, m.radius);
    mp.fillPath(frame, Qt::black);
    mp.end();
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.drawImage(0, 0, mask);
    return layer;
}

QImage renderIcon(int size)
{
    QImage icon = motifLayer(QSize(size, size), iconMotif(size));
    icon.setDotsPerMeterX(kDotsPerMeter);
    icon.setDotsPerMeterY(kDotsPerMeter);
    return icon.convertToFormat(QImage::Format_ARGB32);
}

// ---- Scalable icon ------------------------------------------------------------------------
// Written as plain SVG from the same scene data rather than through QSvgGenerator, whose
// output changes with the Qt version. No clip path: Qt's own SVG renderer, which Qt desktops
// draw icons with, ignores clipPath. The sky is a rounded rectangle, and each hill follows
// the frame's rounded bottom itself; the sun and the lines stay clear of the corners.

QString num(qreal v)
{
    return QString::number(v, 'g', 6);
}

QString svgPoint(const QPointF& p)
{
    return num(p.x()) + QLatin1Char(',') + num(p.y());
}

QByteArray buildSvg(int size)
{
    const Motif m = iconMotif(size);
    const QRectF& r = m.frame;
    const QString radius = num(m.radius);
    QString svg;
    svg += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                          "viewBox=\"0 0 %1 %1\">\n  <defs>\n")
               .arg(size);
    svg += QStringLiteral("    <linearGradient id=\"sky\" gradientUnits=\"userSpaceOnUse\" "
                          "x1=\"0\" y1=\"%1\" x2=\"0\" y2=\"%2\">\n")
               .arg(num(r.top()), num(r.bottom()));
    for (const GradientStop& stop : kSky) {
        svg += QStringLiteral("      <stop offset=\"%1\" stop-color=\"%2\"/>\n")
                   .arg(num(stop.at), stop.colour.name());
    }
    svg += QStringLiteral("    </linearGradient>\n  </defs>\n");
    svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" "
                          "fill=\"url(#sky)\"/>\n")
               .arg(num(r.left()), num(r.top()), num(r.width()), num(r.height()), radius);
    const QPointF sun = inFrame(r, {kSunX, kSunY});
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n")
               .arg(num(sun.x()), num(sun.y()), num(kSunRadius * r.width()), kSunColour.name());
    const qreal cornerTop = r.bottom() - m.radius;
    for (const Hill& hill : kHills) {
        if (inFrame(r, hill.start).y() > cornerTop || inFrame(r, hill.end).y() > cornerTop)
            fail(QStringLiteral("a hill ends inside the frame's rounded corner"));
        svg +=
            QStringLiteral("  <path d=\"M%1 C%2 %3 %4 L%5 A%6 %6 0 0 1 %7 L%8 A%6 %6 0 0 1 %9 Z\" "
                           "fill=\"%10\"/>\n")
                .arg(svgPoint(inFrame(r, hill.start)), svgPoint(inFrame(r, hill.c1)),
                     svgPoint(inFrame(r, hill.c2)), svgPoint(inFrame(r, hill.end)),
                     svgPoint({r.right(), cornerTop}), radius,
                     svgPoint({r.right() - m.radius, r.bottom()}),
                     svgPoint({r.left() + m.radius, r.bottom()}), svgPoint({r.left(), cornerTop}))
                .arg(hill.colour.name());
    }
    for (const QRectF& line : cutLines(m)) {
        svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                              "fill=\"#ffffff\"/>\n")
                   .arg(num(line.left()), num(line.top()), num(line.width()), num(line.height()));
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

// ---- ICO container ----------------------------------------------------------------------
// Qt's ico writer stores a single image, so the container is written here: an ICONDIR,
// one ICONDIRENTRY per image, then for each image a BITMAPINFOHEADER DIB whose height is
// doubled because the 1-bit AND mask follows the colour rows. Rows run bottom-up and are
// padded to four bytes.

int dibStride(int bitsPerRow)
{
    return (bitsPerRow + 31) / 32 * 4;
}

// Old renderers only know the AND mask, so anything less than half opaque is cut there.
bool masked(QRgb pixel)
{
    return qAlpha(pixel) < 128;
}

// Reduces the icon to 256 colours with Qt's quantizer. Masked pixels must be black in the
// colour rows: Windows XORs those rows onto the screen where the mask is set.
QImage toPalette(const QImage& argb, QList<QRgb>& table, uchar& black)
{
    QImage flat(argb.size(), QImage::Format_RGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = argb.pixel(x, y);
            flat.setPixel(x, y, masked(c) ? qRgb(0, 0, 0) : qRgb(qRed(c), qGreen(c), qBlue(c)));
        }
    }
    QImage indexed = flat.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
    table = indexed.colorTable();
    auto it =
        std::find_if(table.cbegin(), table.cend(), [](QRgb c) { return (c & 0xFFFFFF) == 0; });
    if (it == table.cend()) {
        if (table.size() >= 256)
            fail(QStringLiteral("palette has no black entry for the masked pixels"));
        table.append(qRgb(0, 0, 0));
        it = table.cend() - 1;
    }
    black = uchar(it - table.cbegin());
    table.resize(256, qRgb(0, 0, 0));
    return indexed;
}

QByteArray iconDib(const QImage& argb, int bitCount)
{
    const int w = argb.width();
    const int h = argb.height();
    const int xorStride = dibStride(w * bitCount);
    const int andStride = dibStride(w);

    QByteArray dib;
    QDataStream s(&dib, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint32(40) << qint32(w) << qint32(2 * h) << quint16(1) << quint16(bitCount) << quint32(0)
      << quint32((xorStride + andStride) * h) << qint32(0) << qint32(0) << quint32(0) << quint32(0);

    QList<QRgb> table;
    uchar black = 0;
    QImage indexed;
    if (bitCount == 8) {
        indexed = toPalette(argb, table, black);
        for (QRgb c : table)
            s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    }

    const QByteArray xorPad(xorStride - (w * bitCount + 7) / 8, '\0');
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const QRgb c = argb.pixel(x, y);
            const bool cut = masked(c);
            switch (bitCount) {
            case 8:
                s << quint8(cut ? black : indexed.pixelIndex(x, y));
                break;
            case 24:
                if (cut)
                    s << quint8(0) << quint8(0) << quint8(0);
                else
                    s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c));
                break;
            case 32:
                // Straight (not premultiplied) alpha; fully clear pixels are zeroed so
                // the file does not carry invisible colour.
                if (qAlpha(c) == 0)
                    s << quint32(0);
                else
                    s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c))
                      << quint8(qAlpha(c));
                break;
            default:
                fail(QStringLiteral("unsupported icon depth %1").arg(bitCount));
            }
        }
        s.writeRawData(xorPad.constData(), int(xorPad.size()));
    }

    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(andStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (masked(argb.pixel(x, y))) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        s.writeRawData(row.constData(), int(row.size()));
    }
    return dib;
}

struct IconEntry
{
    int size;
    int bitCount;
};

// The 256-colour set for old and low-colour displays comes first, then the true-colour
// images; the second 16 px palette image is deliberate.
constexpr IconEntry kIconEntries[] = {{48, 8},  {32, 8},  {16, 8}, {128, 24},
                                      {48, 32}, {32, 24}, {16, 8}};

QByteArray buildIco()
{
    QList<QByteArray> dibs;
    for (const IconEntry& e : kIconEntries)
        dibs.append(iconDib(renderIcon(e.size), e.bitCount));

    QByteArray ico;
    QDataStream s(&ico, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    const int count = int(std::size(kIconEntries));
    s << quint16(0) << quint16(1) << quint16(count);
    quint32 offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        const IconEntry& e = kIconEntries[i];
        const quint8 side = e.size >= 256 ? 0 : quint8(e.size);
        const quint8 colours = e.bitCount < 8 ? quint8(1 << e.bitCount) : 0;
        s << side << side << colours << quint8(0) << quint16(1) << quint16(e.bitCount)
          << quint32(dibs[i].size()) << offset;
        offset += quint32(dibs[i].size());
    }
    for (const QByteArray& dib : dibs)
        s.writeRawData(dib.constData(), int(dib.size()));
    return ico;
}

// ---- Thank-you card -----------------------------------------------------------------------

// The card must never show boxes instead of characters, so the CJK face is required, and
// the face itself (not a fallback Qt might pick silently) must carry every glyph.
QFont cjkFont(int pixelSize)
{
    const QStringList files = {
        QStringLiteral("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc"),
        QStringLiteral("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"),
    };
    for (const QString& file : files) {
        if (QFileInfo::exists(file)) QFontDatabase::addApplicationFont(file);
    }
    if (!QFontDatabase::families().contains(kCjkFamily))
        fail(QStringLiteral("font \"%1\" not found; install fonts-noto-cjk").arg(kCjkFamily));

    QFont font(kCjkFamily);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoFontMerging));
    if (QFontInfo(font).family() != kCjkFamily)
        fail(QStringLiteral("Qt resolved \"%1\" to \"%2\"")
                 .arg(kCjkFamily, QFontInfo(font).family()));
    const QRawFont raw = QRawFont::fromFont(font);
    for (const QChar ch : kThanksText) {
        if (!raw.supportsCharacter(ch))
            fail(QStringLiteral("\"%1\" has no glyph for %2").arg(kCjkFamily, QString(ch)));
    }
    return font;
}

// A soft shadow: the frame drawn small and scaled up smoothly blurs it without any filter
// code, and stays deterministic.
QImage shadowFor(const Motif& m, const QSize& canvas)
{
    constexpr int kScale = 8;
    QImage small(canvas / kScale, QImage::Format_ARGB32_Premultiplied);
    small.fill(Qt::transparent);
    QPainter p(&small);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(m.frame.left() / kScale, (m.frame.top() + 14) / kScale, m.frame.width() / kScale,
                   m.frame.height() / kScale);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7A, 0x4A, 0x3A, 70));
    p.drawRoundedRect(r, m.radius / kScale, m.radius / kScale);
    p.end();
    return small.scaled(canvas, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage renderThanksCard()
{
    const QSize canvas(kCardSize, kCardSize);
    QImage card(canvas, QImage::Format_RGB32);
    card.setDotsPerMeterX(kDotsPerMeter);
    card.setDotsPerMeterY(kDotsPerMeter);

    QPainter p(&card);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient paper(0, 0, 0, kCardSize);
    paper.setColorAt(0.0, QColor(0xFF, 0xF9, 0xF2));
    paper.setColorAt(1.0, QColor(0xFB, 0xEC, 0xE1));
    p.fillRect(card.rect(), paper);

    // 339 = 3 tiles of 105 plus two 12 px lines, so the tiles sit on whole pixels.
    constexpr int kFrame = 339;
    constexpr int kLine = 12;
    const Motif m{QRectF((kCardSize - kFrame) / 2, 96, kFrame, kFrame), kFrame * 0.16, qreal(kLine),
                  qreal((kFrame - 2 * kLine) / 3)};
    p.drawImage(0, 0, shadowFor(m, canvas));
    p.drawImage(0, 0, motifLayer(canvas, m));

    const QFont font = cjkFont(92);
    p.setFont(font);
    p.setPen(QColor(0x3B, 0x35, 0x51));
    const QFontMetricsF metrics(font);
    const qreal baseline = 600;
    const qreal width = metrics.horizontalAdvance(kThanksText);
    p.drawText(QPointF((kCardSize - width) / 2, baseline), kThanksText);
    p.end();
    return card;
}

// ---- Output -------------------------------------------------------------------------------

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

void writeImage(const QString& path, const QImage& image, const QByteArray& format,
                int quality = -1)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImageWriter writer(path, format);
    writer.setQuality(quality);
    // A baseline JPEG: some of the places the card gets pasted into reject progressive ones.
    writer.setProgressiveScanWrite(false);
    if (!writer.write(image))
        fail(QStringLiteral("cannot write %1: %2").arg(path, writer.errorString()));
}

void generate(const QString& root)
{
    const QString out = QDir(root).filePath(QStringLiteral("resources"));
    writeFile(out + QStringLiteral("/tessarine.ico"), buildIco());
    for (int size : {16, 32, 48, 64, 128, 256}) {
        writeImage(out + QStringLiteral("/icons/hicolor/%1x%1/apps/tessarine.png").arg(size),
                   renderIcon(size), "png");
    }
    writeFile(out + QStringLiteral("/icons/hicolor/scalable/apps/tessarine.svg"), buildSvg(256));
    writeImage(out + QStringLiteral("/thanks.jpg"), renderThanksCard(), "jpeg", 90);
}

} // namespace

int main(int argc, char** argv)
{
    // Always offscreen: no display is needed, and a desktop session's font and DPI
    // settings cannot leak into the pictures.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: make_resources OUTPUT_ROOT\n"
                             "writes the artwork under OUTPUT_ROOT/resources/\n");
        return 2;
    }
    try {
        generate(args.at(1));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_resources: %s\n", e.what());
        return 1;
    }
    return 0;
}
