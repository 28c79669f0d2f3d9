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
    const auto row = [](const char* name, const QByteArray& bytes, QRgb mark, QRgb field,
                        int tolerance = 0, QSize size = kSize, bool sameAsQt = false) {
        QTest::newRow(name) << bytes << size << mark << field << tolerance << sameAsQt;
    };
    for (const char* format : {"png", "bmp", "tiff", "webp"})
        row(format, encode(picture, format), kRed, kGrey);
    row("jpeg", encode(picture, "jpeg"), kRed, kGrey, 3, kSize, true);
    row("jpeg-odd-size-progressive",
        viaTool("cjpeg", {probe({61, 35}, kRed, kGrey)}, {"-progressive", "-outfile", "OUT", "IN"}),
        kRed, kGrey, 12, {61, 35}, true);
    row("jpeg-grey",
        encode(probe(kSize, qRgb(40, 40, 40), kGrey).convertToFormat(QImage::Format_Grayscale8),
               "jpeg"),
        qRgb(40, 40, 40), kGrey, 3, kSize, true);
    row("jpeg-cmyk", viaTool("convert", {picture}, {"IN", "-colorspace", "CMYK", "jpg:OUT"}), kRed,
        kGrey, 8, kSize, true);
    for (int orientation = 1; orientation <= 8; ++orientation)
        row(qPrintable(QStringLiteral("jpeg-exif-%1").arg(orientation)),
            withExifOrientation(encode(storedFor(picture, orientation), "jpeg"), orientation), kRed,
            kGrey, 3, kSize, true);
    row("gif-first-frame",
        viaTool("convert", {picture, probe(kSize, kGrey, kRed)}, {"IN", "gif:OUT"}), kRed, kGrey);
    row("ico-largest",
        viaTool("convert",
                {probe({16, 16}, kGrey, kGrey), probe({48, 48}, kRed, kGrey),
                 probe({32, 32}, kGrey, kGrey)},
                {"IN", "ico:OUT"}),
        kRed, kGrey, 0, {48, 48});
    row("heic", viaTool("convert", {picture}, {"IN", "-quality", "95", "heic:OUT"}), kRed, kGrey,
        12);
    row("wmf", wmf(kSize, kRed, kGrey), kRed, kGrey);
    row("emf", emf(kSize, kRed, kGrey), kRed, kGrey);

    // Colours: (200,100,50) in Display P3 is (215,93,31) in sRGB.
    QImage p3 = probe(kSize, qRgb(200, 100, 50), qRgb(200, 100, 50));
    p3.setColorSpace(QColorSpace::DisplayP3);
    row("png-icc-p3", encode(p3, "png"), qRgb(215, 93, 31), qRgb(215, 93, 31), 2);
    row("jpeg-icc-p3", encode(p3, "jpeg"), qRgb(215, 93, 31), qRgb(215, 93, 31), 3, kSize, true);
    QImage half(kSize, QImage::Format_ARGB32);
    half.fill(qRgba(255, 0, 0, 128));
    row("png-alpha-over-white", encode(half, "png"), qRgb(255, 127, 127), qRgb(255, 127, 127));
    // Stored (20,27,200) under different gAMA/cHRM chunks; expected values from the sRGB curve.
    const QByteArray plain = encode(probe(kSize, qRgb(20, 27, 200), qRgb(20, 27, 200)), "png");
    const auto gamma = [](quint32 g) {
        QByteArray body(4, '\0');
        qToBigEndian(g, body.data());
        return body;
    };
    QByteArray chrm;
    for (quint32 v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u})
        chrm += gamma(v);
    const QRgb same = qRgb(20, 27, 200);
    row("png-gamma-srgb", withPngChunk(plain, "gAMA", gamma(45455)), same, same);
    row("png-gamma-srgb-chrm",
        withPngChunk(withPngChunk(plain, "cHRM", chrm), "gAMA", gamma(45455)), same, same);
    row("png-gamma-1.0", withPngChunk(plain, "gAMA", gamma(100000)), qRgb(79, 92, 229),
        qRgb(79, 92, 229), 2);
    row("png-gamma-1/1.8", withPngChunk(plain, "gAMA", gamma(55556)), qRgb(26, 36, 210),
        qRgb(26, 36, 210), 2);
    // Bit-field bitmaps: white and a field's midpoint, widened by bit replication.
    row("bmp-565", bitfieldBmp(kSize, 16, {0xf800, 0x07e0, 0x001f}, 0xffff, 0x8410),
        qRgb(255, 255, 255), qRgb(132, 130, 132));
    row("bmp-555", bitfieldBmp(kSize, 16, {}, 0x7fff, 0x4210), qRgb(255, 255, 255),
        qRgb(132, 132, 132));
    row("bmp-32-10bit", bitfieldBmp(kSize, 32, {0x3ff00000, 0xffc00, 0x3ff}, 0x3fffffff, 0),
        qRgb(255, 255, 255), qRgb(0, 0, 0));
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
    QByteArray heic = viaTool("convert", {probe(kSize, kRed, kGrey)}, {"IN", "heic:OUT"});
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
