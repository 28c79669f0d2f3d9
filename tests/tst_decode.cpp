#include "platform/ImageDecoder.h"
#include "support/TestPictures.h"

#include <QColorSpace>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace testpictures;

namespace {

const QSize kSize(64, 32);
const QRgb kRed = qRgb(255, 0, 0), kGrey = qRgb(128, 128, 128);

bool near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A reason for the user: Chinese, with no English beyond a format's name.
bool isChineseReason(QString reason)
{
    reason.remove(QRegularExpression(QStringLiteral("HEIF|PNG|JPEG|GIF|BMP")));
    return reason.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))) &&
           !reason.contains(QRegularExpression(QStringLiteral("[A-Za-z]")));
}

// Qt's own reading of a file, brought to opaque sRGB the plain way.
QImage decodedByQt(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.colorSpace().isValid()) image.convertToColorSpace(QColorSpace::SRgb);
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class DecodeTest : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void refuses_data();
    void refuses();
    void brokenPictures_data();
    void brokenPictures();

private:
    QString write(const QByteArray& bytes);
    QTemporaryDir m_dir;
    int m_files = 0;
};

QString DecodeTest::write(const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QString::number(++m_files));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

void DecodeTest::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRgb>("mark");  // expected in the top-left quarter
    QTest::addColumn<QRgb>("field"); // expected in the other three
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<bool>("sameAsQt"); // every pixel as Qt's reader gives it
    const QImage picture = probe(kSize, kRed, kGrey);
    const auto row = [](const QString& name, const QByteArray& bytes, QRgb mark, QRgb field,
                        int tolerance = 0, QSize size = kSize, bool sameAsQt = false) {
        QTest::newRow(qPrintable(name)) << bytes << size << mark << field << tolerance << sameAsQt;
    };
    for (const char* format : {"png", "bmp", "tiff", "webp"})
        row(format, encode(picture, format), kRed, kGrey);
    row("jpeg", encode(picture, "jpeg"), kRed, kGrey, 3, kSize, true);
    row("jpeg-odd-size-progressive",
        made("convert 1 -quality 100 -interlace Plane jpg:out", {probe({61, 35}, kRed, kGrey)}),
        kRed, kGrey, 12, {61, 35}, true);
    const QRgb dark = qRgb(40, 40, 40);
    row("jpeg-grey", made("convert 1 -colorspace Gray -quality 100 jpg:out", {probe(kSize, dark, kGrey)}),
        dark, kGrey, 3, kSize, true);
    row("jpeg-cmyk", made("convert 1 -colorspace CMYK jpg:out", {picture}), kRed, kGrey, 8, kSize,
        true);
    // Each EXIF orientation, stored turned the opposite way so that it shows upright.
    const QStringList stored = {"",          "-flop",       "-rotate 180", "-flip",
                                "-transpose", "-rotate 270", "-transverse", "-rotate 90"};
    const QStringList orientations = {"TopLeft",  "TopRight", "BottomRight", "BottomLeft",
                                      "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    for (int i = 0; i < 8; ++i)
        row(QStringLiteral("jpeg-exif-%1").arg(i + 1),
            made(QStringLiteral("convert 1 %1 +repage -orient %2 tif:t && vips jpegsave t out --Q 100")
                     .arg(stored[i], orientations[i]),
                 {picture}),
            kRed, kGrey, 3, kSize, true);
    row("gif-first-frame", made("convert 1 2 gif:out", {picture, probe(kSize, kGrey, kRed)}), kRed,
        kGrey);
    row("ico-largest",
        made("convert 1 2 3 ico:out",
             {probe({16, 16}, kGrey, kGrey), probe({48, 48}, kRed, kGrey),
              probe({32, 32}, kGrey, kGrey)}),
        kRed, kGrey, 0, {48, 48});
    row("heic", made("convert 1 -quality 95 heic:out", {picture}), kRed, kGrey, 12);
    row("wmf", wmf(kSize, kRed, kGrey), kRed, kGrey);
    row("emf", emf(kSize, kRed, kGrey), kRed, kGrey);

    // Colours: (200,100,50) in Display P3 is (215,93,31) in sRGB.
    QImage p3 = probe(kSize, qRgb(200, 100, 50), qRgb(200, 100, 50));
    p3.setColorSpace(QColorSpace::DisplayP3);
    const QRgb inSrgb = qRgb(215, 93, 31);
    row("png-icc-p3", encode(p3, "png"), inSrgb, inSrgb, 2);
    row("jpeg-icc-p3", encode(p3, "jpeg"), inSrgb, inSrgb, 3, kSize, true);
    QImage half(kSize, QImage::Format_ARGB32);
    half.fill(qRgba(255, 0, 0, 128));
    row("png-alpha-over-white", encode(half, "png"), qRgb(255, 127, 127), qRgb(255, 127, 127));
    // Stored (20,27,200) under different gAMA (and sRGB's cHRM); expected values from the sRGB
    // curve.
    const QList<QImage> blue = {probe(kSize, qRgb(20, 27, 200), qRgb(20, 27, 200))};
    const auto gamma = [&](const char* value, QRgb expected, const char* more = "") {
        row(QStringLiteral("png-gamma-%1%2").arg(value, more),
            made(QStringLiteral("convert 1 -set gamma %1 %2 png24:out").arg(value, more), blue),
            expected, expected, 2);
    };
    gamma("0.45455", qRgb(20, 27, 200));
    gamma("0.45455", qRgb(20, 27, 200), "-define png:exclude-chunk=cHRM");
    gamma("1.0", qRgb(79, 92, 229));
    gamma("0.55556", qRgb(26, 36, 210));
    // Bit-field bitmaps: white, and a grey whose fields widen back to it by bit replication.
    const QRgb white = qRgb(255, 255, 255), grey = qRgb(132, 132, 132);
    const QList<QImage> whiteOnGrey = {probe(kSize, white, grey)};
    row("bmp-565", made("convert 1 -define bmp:subtype=RGB565 bmp:out", whiteOnGrey), white,
        qRgb(132, 130, 132));
    // Uncompressed 16 bits are 5-5-5 with no masks at all.
    QByteArray bmp555 = made("convert 1 -define bmp:subtype=RGB555 bmp:out", whiteOnGrey);
    bmp555[30] = 0;
    row("bmp-555", bmp555, white, grey);
    // Ten bits a field: white stays white, transparent black is black.
    QByteArray bmp32 = made("convert 1 -transparent black -define bmp:format=bmp4 bmp:out",
                            {probe(kSize, white, qRgb(0, 0, 0))});
    for (const auto& [at, mask] : {std::pair{54, 0x3ff00000u}, {58, 0xffc00u}, {62, 0x3ffu}, {66, 0u}})
        qToLittleEndian(mask, bmp32.data() + at);
    row("bmp-32-10bit", bmp32, white, qRgb(0, 0, 0));
}

void DecodeTest::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QRgb, mark);
    QFETCH(QRgb, field);
    QFETCH(int, tolerance);
    QFETCH(bool, sameAsQt);
    QVERIFY2(!bytes.isEmpty(), "the fixture could not be made");
    const QString path = write(bytes);
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
    QCOMPARE(decoded.image.size(), size);
    const int right = size.width() - 1, bottom = size.height() - 1;
    for (const auto& [x, y, expected] :
         {std::tuple{0, 0, mark}, {right, 0, field}, {0, bottom, field}, {right, bottom, field}}) {
        const QRgb actual = decoded.image.pixel(x, y);
        QVERIFY2(near(actual, expected, tolerance),
                 qPrintable(QStringLiteral("(%1,%2) is %3").arg(x).arg(y).arg(actual, 0, 16)));
    }
    if (sameAsQt) QCOMPARE(decoded.image, decodedByQt(path));
}

void DecodeTest::refuses_data()
{
    QTest::addColumn<QString>("path");
    const QString fifo = m_dir.filePath(QString::number(++m_files));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QByteArray png = encode(probe(kSize, kRed, kGrey), "png");
    const QByteArray bmp = encode(probe(kSize, kRed, kGrey), "bmp");
    QTest::newRow("missing") << m_dir.filePath(QStringLiteral("none"));
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("fifo") << fifo;
    QTest::newRow("device") << QStringLiteral("/dev/zero");
    QTest::newRow("empty") << write({});
    QTest::newRow("not-a-picture") << write("just words\n");
    QTest::newRow("png-truncated") << write(png.left(60));
    QTest::newRow("bmp-shorter-than-header") << write(bmp.left(bmp.size() / 2));
    QTest::newRow("gif-without-screen") << write(claiming("gif", 0, 1000));
    for (const char* format : {"png", "bmp", "jpeg", "gif", "wmf", "emf"})
        QTest::newRow(qPrintable(QStringLiteral("huge-%1").arg(format)))
            << write(claiming(format, 30000, 30000));
    QByteArray heic = made("convert 1 heic:out", {probe(kSize, kRed, kGrey)});
    if (const qsizetype ispe = heic.indexOf("ispe"); ispe > 0) {
        qToBigEndian<quint32>(100000, heic.data() + ispe + 8);
        qToBigEndian<quint32>(100000, heic.data() + ispe + 12);
    }
    QTest::newRow("huge-heic") << write(heic);
}

void DecodeTest::refuses()
{
    QFETCH(QString, path);
    QElapsedTimer timer;
    timer.start();
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
    QVERIFY(decoded.image.isNull());
    QVERIFY2(isChineseReason(decoded.error), qPrintable(decoded.error));
}

void DecodeTest::brokenPictures_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("sixel-and-pngsuite") << "/usr/share/doc/libsixel-examples/examples/images";
    QTest::newRow("gdk-pixbuf") << "/usr/libexec/installed-tests/gdk-pixbuf";
    QTest::newRow("x-image") << "/usr/share/gocode/src/golang.org/x/image/testdata";
    QTest::newRow("afl") << "/usr/share/doc/afl++-doc/afl/testcases/images";
}

// Every file decodes or fails with a reason, each within seconds; none crashes.
void DecodeTest::brokenPictures()
{
    QFETCH(QString, folder);
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        QElapsedTimer timer;
        timer.start();
        const auto decoded = platform::decodePictureFile(path);
        QVERIFY2(timer.elapsed() < 10000, qPrintable(path));
        if (decoded.image.isNull())
            QVERIFY2(isChineseReason(decoded.error), qPrintable(path + ": " + decoded.error));
        else
            QVERIFY2(decoded.image.format() == QImage::Format_RGB32, qPrintable(path));
        ++files;
    }
    if (files == 0) QSKIP("not installed; tools/packages.sh lists the package");
}

QTEST_MAIN(DecodeTest)
#include "tst_decode.moc"
