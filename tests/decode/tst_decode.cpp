#include "platform/ImageDecoder.h"
#include "tools/fixtures/PictureFixtures.h"

#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>

using fixtures::kProbeField;
using fixtures::kProbeMark;

namespace {

const QSize kProbeSize(64, 32);
const char* const kNoWriter = "fixture writer missing here: ImageMagick's convert (GIF, ICO) or "
                              "libheif's HEVC encoder (HEIC)";

bool near(QRgb actual, QRgb expected, int tolerance)
{
    return qAbs(qRed(actual) - qRed(expected)) <= tolerance &&
           qAbs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           qAbs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

QString describe(QRgb colour)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(colour)).arg(qGreen(colour)).arg(qBlue(colour));
}

QImage filled(QSize size, QRgb colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, format);
    image.fill(QColor::fromRgba(colour));
    return image;
}

QImage tagged(QImage image, QColorSpace::NamedColorSpace space)
{
    image.setColorSpace(space);
    return image;
}

} // namespace

class DecodeTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loadsEveryFormat_data();
    void loadsEveryFormat();
    void givesOpaqueSrgbColours_data();
    void givesOpaqueSrgbColours();
    void refusesHugeHeadersQuickly_data();
    void refusesHugeHeadersQuickly();
    void acceptsTwoHundredMegapixels();
    void survivesTruncation_data();
    void survivesTruncation();
    void refusesWhatIsNoPicture_data();
    void refusesWhatIsNoPicture();
    void findsPicturesByAnyPath_data();
    void findsPicturesByAnyPath();

private:
    QString write(const QString& name, const QByteArray& bytes);
    QByteArray viaConvert(const QList<QImage>& inputs, const QString& output,
                          const QStringList& options = {});
    void addFormatRows(bool withOrientations);

    QTemporaryDir m_dir;
    int m_serial = 0;
};

QString DecodeTest::write(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QString::number(++m_serial) + QLatin1Char('-') + name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
    return path;
}

// Runs ImageMagick over PNGs of `inputs`; empty when it is not installed.
QByteArray DecodeTest::viaConvert(const QList<QImage>& inputs, const QString& output,
                                  const QStringList& options)
{
    QStringList arguments = options;
    for (const QImage& input : inputs) {
        arguments << write(QStringLiteral("in.png"), fixtures::encodeWithQt(input, "png"));
    }
    const QString target = m_dir.filePath(QString::number(++m_serial) + QLatin1Char('-') + output);
    if (!fixtures::runConvert(arguments << target)) return {};
    QFile file(target);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DecodeTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// Every format and variant, each holding the probe: its size and the colours of its marked and
// unmarked corners say whether the right picture came out the right way up.
void DecodeTest::addFormatRows(bool withOrientations)
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRgb>("mark");
    QTest::addColumn<QRgb>("field");
    QTest::addColumn<int>("tolerance");

    const QImage probe = fixtures::probe(kProbeSize);
    const QRgb greyMark = qRgb(qGray(kProbeMark), qGray(kProbeMark), qGray(kProbeMark));
    auto add = [&](const char* row, const QByteArray& bytes, const char* name, int tolerance,
                   QSize size = kProbeSize, QRgb mark = kProbeMark, QRgb field = kProbeField) {
        QTest::newRow(row) << bytes << QString::fromLatin1(name) << size << mark << field
                           << tolerance;
    };
    using fixtures::JpegKind;
    add("bmp", fixtures::encodeWithQt(probe, "bmp"), "a.bmp", 0);
    add("bmp-indexed",
        fixtures::encodeWithQt(probe.convertToFormat(QImage::Format_Indexed8), "bmp"), "a.bmp", 0);
    add("png", fixtures::encodeWithQt(probe, "png"), "a.png", 0);
    add("png-palette",
        fixtures::encodeWithQt(probe.convertToFormat(QImage::Format_Indexed8), "png"), "a.png", 0);
    add("png-16bit", fixtures::encodeWithQt(probe.convertToFormat(QImage::Format_RGBX64), "png"),
        "a.png", 0);
    add("png-named-jpg", fixtures::encodeWithQt(probe, "png"), "a.jpg", 0);
    add("jpeg", fixtures::encodeWithQt(probe, "jpeg"), "a.jpg", 12);
    add("jpeg-progressive", fixtures::encodeJpeg(probe, JpegKind::Progressive), "a.jpg", 12);
    add("jpeg-greyscale", fixtures::encodeJpeg(probe, JpegKind::Greyscale), "a.jpg", 6, kProbeSize,
        greyMark);
    add("jpeg-cmyk", fixtures::encodeJpeg(probe, JpegKind::Cmyk), "a.jpg", 12);
    add("jpeg-ycck", fixtures::encodeJpeg(probe, JpegKind::Ycck), "a.jpg", 12);
    add("webp", fixtures::encodeWithQt(probe, "webp"), "a.webp", 0);
    add("tiff", fixtures::encodeWithQt(probe, "tiff"), "a.tif", 0);
    add("gif-first-frame",
        viaConvert({probe, filled(kProbeSize, 0xff0000ff)}, "a.gif", {"-delay", "10"}), "a.gif", 0);
    // The largest entry sits in the middle, so neither the first nor the last one will do.
    add("ico-largest",
        viaConvert(
            {filled({16, 16}, 0xff0000ff), fixtures::probe({48, 48}), filled({32, 32}, 0xff00ff00)},
            "a.ico"),
        "a.ico", 0, QSize(48, 48));
    add("heic", fixtures::encodeHeic(probe), "a.heic", 12);
    add("wmf-placeable", fixtures::wmfProbe(kProbeSize), "a.wmf", 0);
    add("wmf-frame-with-margins", fixtures::wmfProbe(kProbeSize, true, false), "a.wmf", 0,
        kProbeSize, kProbeMark, qRgb(255, 255, 255));
    // Without a placeable header libwmf reads the twips as points, so the drawing comes out
    // 4/3 times the twips' count divided by 15.
    add("wmf-plain", fixtures::wmfProbe(kProbeSize, false), "a.wmf", 0, QSize(1281, 641));

    if (!withOrientations) return;
    // Stored turned or mirrored, tagged so that honouring the tag shows the probe upright.
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QImage stored = fixtures::storedForOrientation(probe, orientation);
        const QByteArray jpeg = fixtures::encodeWithQt(stored, "jpeg");
        add(qPrintable(QStringLiteral("jpeg-exif-%1").arg(orientation)),
            fixtures::withExifOrientation(jpeg, orientation), "o.jpg", 16);
        add(qPrintable(QStringLiteral("tiff-orientation-%1").arg(orientation)),
            fixtures::encodeWithQt(stored, "tiff", orientation), "o.tif", 0);
        add(qPrintable(QStringLiteral("heic-irot-imir-%1").arg(orientation)),
            fixtures::encodeHeic(stored, orientation), "o.heic", 16);
    }
}

void DecodeTest::loadsEveryFormat_data()
{
    addFormatRows(true);
}

void DecodeTest::loadsEveryFormat()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QRgb, mark);
    QFETCH(QRgb, field);
    QFETCH(int, tolerance);
    if (bytes.isEmpty()) QSKIP(kNoWriter);

    const auto decoded = platform::decodePictureFile(write(name, bytes));
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    const QImage& image = decoded.image;
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(image.size(), size);
    const int right = size.width() - 5;
    const int bottom = size.height() - 5;
    const QList<std::pair<QPoint, QRgb>> samples = {
        {{4, 4}, mark}, {{right, 4}, field}, {{4, bottom}, field}, {{right, bottom}, field}};
    for (const auto& [at, expected] : samples)
        QVERIFY2(near(image.pixel(at), expected, tolerance),
                 qPrintable(QStringLiteral("at (%1,%2): %3, expected %4")
                                .arg(at.x())
                                .arg(at.y())
                                .arg(describe(image.pixel(at)), describe(expected))));
}

void DecodeTest::givesOpaqueSrgbColours_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRgb>("expected");
    QTest::addColumn<int>("tolerance");

    // (200,100,50) lies inside sRGB in both wide spaces, so a missing conversion shows.
    const QRgb source = qRgb(200, 100, 50);
    const QRgb fromP3 = qRgb(215, 93, 31);
    const QRgb fromAdobe = qRgb(227, 100, 42);
    const QImage p3 =
        tagged(filled({16, 16}, source, QImage::Format_RGB32), QColorSpace::DisplayP3);
    const QImage adobe = tagged(p3, QColorSpace::AdobeRgb);
    QTest::newRow("png-p3") << fixtures::encodeWithQt(p3, "png") << "c.png" << fromP3 << 2;
    QTest::newRow("jpeg-p3") << fixtures::encodeWithQt(p3, "jpeg") << "c.jpg" << fromP3 << 4;
    QTest::newRow("tiff-p3") << fixtures::encodeWithQt(p3, "tiff") << "c.tif" << fromP3 << 2;
    QTest::newRow("webp-p3") << fixtures::encodeWithQt(p3, "webp") << "c.webp" << fromP3 << 2;
    QTest::newRow("jpeg-adobe") << fixtures::encodeWithQt(adobe, "jpeg") << "c.jpg" << fromAdobe
                                << 4;
    QTest::newRow("png-16bit-p3") << fixtures::encodeWithQt(
                                         p3.convertToFormat(QImage::Format_RGBX64), "png")
                                  << "c.png" << fromP3 << 2;
    QTest::newRow("heic-icc-p3") << fixtures::encodeHeic(
                                        p3, 1, QColorSpace(QColorSpace::DisplayP3).iccProfile())
                                 << "c.heic" << fromP3 << 6;
    QTest::newRow("heic-nclx-p3") << fixtures::encodeHeic(p3, 1, {}, 12) << "c.heic" << fromP3 << 6;
    QTest::newRow("heic-nclx-srgb")
        << fixtures::encodeHeic(p3, 1, {}, 1) << "c.heic" << source << 6;

    // Transparency is composited over white, after any colour conversion.
    const QImage half = filled({16, 16}, qRgba(255, 0, 0, 128));
    const QImage clear = filled({16, 16}, qRgba(0, 0, 255, 0));
    const QRgb pink = qRgb(255, 127, 127);
    QTest::newRow("png-half") << fixtures::encodeWithQt(half, "png") << "t.png" << pink << 0;
    QTest::newRow("png-clear") << fixtures::encodeWithQt(clear, "png") << "t.png"
                               << qRgb(255, 255, 255) << 0;
    QTest::newRow("png-16bit-half")
        << fixtures::encodeWithQt(half.convertToFormat(QImage::Format_RGBA64), "png") << "t.png"
        << pink << 1;
    QImage palette(16, 16, QImage::Format_Indexed8);
    palette.setColorTable({qRgba(255, 0, 0, 128)});
    palette.fill(0);
    QTest::newRow("png-16bit-half-p3")
        << fixtures::encodeWithQt(
               tagged(half.convertToFormat(QImage::Format_RGBA64), QColorSpace::DisplayP3), "png")
        << "t.png" << pink << 2;
    QTest::newRow("png-palette-half")
        << fixtures::encodeWithQt(palette, "png") << "t.png" << pink << 0;
    QTest::newRow("webp-half") << fixtures::encodeWithQt(half, "webp") << "t.webp" << pink << 0;
    QTest::newRow("tiff-half") << fixtures::encodeWithQt(half, "tiff") << "t.tif" << pink << 1;
    QTest::newRow("gif-clear") << viaConvert({clear}, "t.gif") << "t.gif" << qRgb(255, 255, 255)
                               << 0;
    QTest::newRow("heic-half") << fixtures::encodeHeic(half) << "t.heic" << pink << 8;
}

void DecodeTest::givesOpaqueSrgbColours()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QRgb, expected);
    QFETCH(int, tolerance);
    if (bytes.isEmpty()) QSKIP(kNoWriter);

    const auto decoded = platform::decodePictureFile(write(name, bytes));
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
    const QRgb actual = decoded.image.pixel(8, 8);
    QVERIFY2(near(actual, expected, tolerance),
             qPrintable(describe(actual) + QStringLiteral(" expected ") + describe(expected)));
}

void DecodeTest::refusesHugeHeadersQuickly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    for (const char* format : {"png", "bmp", "jpeg", "gif", "tiff", "webp", "heic", "wmf"})
        QTest::newRow(format) << fixtures::claimingHugeSize(format)
                              << QStringLiteral("h.") + QLatin1String(format);
}

void DecodeTest::refusesHugeHeadersQuickly()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    if (bytes.isEmpty()) QSKIP(kNoWriter);

    const QString path = write(name, bytes);
    QElapsedTimer timer;
    timer.start();
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    QVERIFY(decoded.image.isNull());
    QVERIFY(!decoded.error.isEmpty());
}

// Qt's own default allocation limit would turn this away; a 20000 x 10000 GIF whose one-pixel
// frame leaves the rest of the screen to the background is the cheapest picture that size.
void DecodeTest::acceptsTwoHundredMegapixels()
{
    const QByteArray gif("GIF89a\x20\x4e\x10\x27\x80\0\0\0\0\0\xff\xff\xff"
                         ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;",
                         36);
    const auto decoded = platform::decodePictureFile(write(QStringLiteral("wide.gif"), gif));
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(decoded.image.size(), QSize(20000, 10000));
}

void DecodeTest::survivesTruncation_data()
{
    addFormatRows(false);
}

// Cut short anywhere, a file either fails with a reason or gives the size its header promised.
void DecodeTest::survivesTruncation()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QSize, size);
    if (bytes.isEmpty()) QSKIP(kNoWriter);

    const qsizetype n = bytes.size();
    for (qsizetype length : {qsizetype(1), qsizetype(8), qsizetype(30), qsizetype(64), n / 4, n / 2,
                             n * 3 / 4, n - 16, n - 1}) {
        if (length <= 0 || length >= n) continue;
        const auto decoded = platform::decodePictureFile(write(name, bytes.left(length)));
        const QString at = QStringLiteral("cut at %1 of %2").arg(length).arg(n);
        if (decoded.image.isNull()) {
            QVERIFY2(!decoded.error.isEmpty(), qPrintable(at));
        } else {
            QVERIFY2(decoded.error.isEmpty(), qPrintable(at));
            QCOMPARE(decoded.image.size(), size);
            QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
        }
    }
}

void DecodeTest::refusesWhatIsNoPicture_data()
{
    QTest::addColumn<QString>("path");

    const QString fifo = m_dir.filePath(QStringLiteral("pipe.jpg"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString fifoLink = m_dir.filePath(QStringLiteral("pipe-link.jpg"));
    QVERIFY(QFile::link(fifo, fifoLink));
    const QString folder = m_dir.filePath(QStringLiteral("x.jpg"));
    QVERIFY(QDir().mkpath(folder));

    QTest::newRow("missing") << m_dir.filePath(QStringLiteral("nothing-here.jpg"));
    QTest::newRow("empty-path") << QString();
    QTest::newRow("zero-bytes") << write(QStringLiteral("empty.jpg"), {});
    QTest::newRow("folder-named-jpg") << folder;
    QTest::newRow("fifo") << fifo;
    QTest::newRow("link-to-fifo") << fifoLink;
    QTest::newRow("device") << QStringLiteral("/dev/zero");
    QTest::newRow("text") << write(QStringLiteral("notes.jpg"), "just some words\n");
    QTest::newRow("garbage") << write(QStringLiteral("noise.png"), QByteArray(4096, '\x5a'));
    QTest::newRow("heif-brand-no-boxes")
        << write(QStringLiteral("fake.heic"), QByteArray("\0\0\0\x18"
                                                         "ftypheic\0\0\0\0mif1heic",
                                                         24));
}

void DecodeTest::refusesWhatIsNoPicture()
{
    QFETCH(QString, path);
    QElapsedTimer timer;
    timer.start();
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(decoded.image.isNull());
    QVERIFY(!decoded.error.isEmpty());
}

void DecodeTest::findsPicturesByAnyPath_data()
{
    QTest::addColumn<QString>("path");

    const QByteArray png = fixtures::encodeWithQt(fixtures::probe(), "png");
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("假期 照片")));
    const QString unusual = m_dir.filePath(QStringLiteral("假期 照片/海边 日落 (1).png"));
    QFile file(unusual);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
    file.close();
    const QString link = m_dir.filePath(QStringLiteral("link.png"));
    QVERIFY(QFile::link(unusual, link));

    QTest::newRow("spaces-and-chinese") << unusual;
    QTest::newRow("symlink") << link;
}

void DecodeTest::findsPicturesByAnyPath()
{
    QFETCH(QString, path);
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(decoded.image.size(), kProbeSize);
}

QTEST_GUILESS_MAIN(DecodeTest)
#include "tst_decode.moc"
