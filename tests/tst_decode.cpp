#include "platform/ImageDecoder.h"
#include "support/TestPictures.h"

#include <QColorSpace>
#include <QImageReader>
#include <QtTest>

#include <sys/stat.h>

using namespace testpictures;

namespace {

const QSize kSize(64, 32);
const QRgb kRed = qRgb(255, 0, 0), kGrey = qRgb(128, 128, 128), kWhite = qRgb(255, 255, 255);

bool near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A reason for the user: Chinese, with no English beyond a format's name.
bool isChineseReason(const QString& reason)
{
    static const QRegularExpression chinese(QStringLiteral(
        "^(HEIF|PNG|JPEG|GIF|BMP|[^A-Za-z])*\\p{Han}(HEIF|PNG|JPEG|GIF|BMP|[^A-Za-z])*$"));
    return chinese.match(reason).hasMatch();
}

QTemporaryDir g_dir;

QString saved(const QByteArray& bytes)
{
    static int files = 0;
    QFile file(g_dir.filePath(QString::number(++files)));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName()
                                                                                : QString();
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
    void brokenPictures();
};

void DecodeTest::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QRgb>("mark");  // expected in the top-left quarter
    QTest::addColumn<QRgb>("field"); // expected in the other three
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<QSize>("size");
    const auto row = [](const QString& name, const QByteArray& bytes, QRgb mark, QRgb field,
                        int tolerance = 0, QSize size = kSize) {
        QTest::newRow(qPrintable(name)) << bytes << mark << field << tolerance << size;
    };
    const QImage picture = probe(kSize, kRed, kGrey);
    for (const char* format : {"png", "bmp", "tiff", "webp"})
        row(format, encode(picture, format), kRed, kGrey);
    row("jpeg-odd-size-progressive",
        made("convert 1 -quality 100 -interlace Plane jpg:out", {probe({61, 35}, kRed, kGrey)}),
        kRed, kGrey, 12, {61, 35});
    const QRgb dark = qRgb(40, 40, 40);
    row("jpeg-grey", made("convert 1 -colorspace Gray jpg:out", {probe(kSize, dark, kGrey)}), dark,
        kGrey, 3);
    row("jpeg-cmyk", made("convert 1 -colorspace CMYK jpg:out", {picture}), kRed, kGrey, 8);
    // Each EXIF orientation, the picture stored turned the opposite way so that it shows upright.
    for (const char* turn :
         {"-orient TopLeft", "-flop -orient TopRight", "-rotate 180 -orient BottomRight",
          "-flip -orient BottomLeft", "-transpose -orient LeftTop", "-rotate 270 -orient RightTop",
          "-transverse -orient RightBottom", "-rotate 90 -orient LeftBottom"})
        row(QStringLiteral("jpeg %1").arg(turn),
            made(QStringLiteral("convert 1 %1 +repage tif:t && vips jpegsave t out").arg(turn),
                 {picture}),
            kRed, kGrey, 3);
    row("gif-first-frame", made("convert 1 2 gif:out", {picture, probe(kSize, kGrey, kRed)}), kRed,
        kGrey);
    const QImage small = probe({16, 16}, kGrey, kGrey), large = probe({48, 48}, kRed, kGrey);
    row("ico-largest", made("convert 1 2 3 ico:out", {small, large, small.scaled(32, 32)}), kRed,
        kGrey, 0, {48, 48});
    row("heic", made("convert 1 -quality 95 heic:out", {picture}), kRed, kGrey, 12);
    row("wmf", wmf(kSize, kRed, kGrey), kRed, kGrey);
    row("emf", emf(kSize, kRed, kGrey), kRed, kGrey);

    // Colours: (200,100,50) in Display P3 is (215,93,31) in sRGB.
    QImage p3 = probe(kSize, qRgb(200, 100, 50), qRgb(200, 100, 50));
    p3.setColorSpace(QColorSpace::DisplayP3);
    for (const char* format : {"png", "jpeg"})
        row(format + QStringLiteral("-icc-p3"), encode(p3, format), qRgb(215, 93, 31),
            qRgb(215, 93, 31), 3);
    QImage half(kSize, QImage::Format_ARGB32);
    half.fill(qRgba(255, 0, 0, 128));
    row("png-alpha-over-white", encode(half, "png"), qRgb(255, 127, 127), qRgb(255, 127, 127));
    // Stored (20,27,200) under gAMA, with sRGB's cHRM or none; expected from the sRGB curve.
    const QRgb blue = qRgb(20, 27, 200);
    for (const auto& [options, expected] :
         {std::pair{"-set gamma 0.45455", blue},
          {"-set gamma 0.45455 -define png:exclude-chunk=cHRM", blue},
          {"-set gamma 1.0", qRgb(79, 92, 229)},
          {"-set gamma 0.55556", qRgb(26, 36, 210)}})
        row(QStringLiteral("png %1").arg(options),
            made(QStringLiteral("convert 1 %1 png24:out").arg(options), {probe(kSize, blue, blue)}),
            expected, expected, 2);
    // Bit fields widen by bit replication: 132 is 16 of 31 and 130 is 32 of 63.
    const QImage whiteOnGrey = probe(kSize, kWhite, qRgb(132, 132, 132));
    row("bmp-565", made("convert 1 -define bmp:subtype=RGB565 bmp:out", {whiteOnGrey}), kWhite,
        qRgb(132, 130, 132));
    QByteArray uncompressed = made("convert 1 -define bmp:subtype=RGB555 bmp:out", {whiteOnGrey});
    uncompressed[30] = 0; // sixteen bits without masks are 5-5-5
    row("bmp-555", uncompressed, kWhite, qRgb(132, 132, 132));
    // Ten bits a field: white stays white, transparent black is black.
    QByteArray wide = made("convert 1 -transparent black -define bmp:format=bmp4 bmp:out",
                           {probe(kSize, kWhite, qRgb(0, 0, 0))});
    for (const auto& [at, mask] :
         {std::pair{54, 0x3ff00000u}, {58, 0xffc00u}, {62, 0x3ffu}, {66, 0u}})
        qToLittleEndian(mask, wide.data() + at);
    row("bmp-32-10bit", wide, kWhite, qRgb(0, 0, 0));
}

void DecodeTest::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QRgb, mark);
    QFETCH(QRgb, field);
    QFETCH(int, tolerance);
    QFETCH(QSize, size);
    QVERIFY2(!bytes.isEmpty(), "the fixture could not be made");
    const QString path = saved(bytes);
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
    if (!bytes.startsWith("\xff\xd8")) return;
    // Our own JPEG path must give every pixel exactly as Qt's reader does.
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage byQt = reader.read();
    if (byQt.colorSpace().isValid()) byQt.convertToColorSpace(QColorSpace::SRgb);
    QCOMPARE(decoded.image, byQt.convertToFormat(QImage::Format_RGB32));
}

void DecodeTest::refuses_data()
{
    QTest::addColumn<QString>("path");
    const QString fifo = g_dir.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QImage picture = probe(kSize, kRed, kGrey);
    QByteArray gif = made("convert 1 gif:out", {picture});
    gif[6] = gif[7] = 0; // the screen's width
    QTest::newRow("missing") << g_dir.filePath(QStringLiteral("none"));
    QTest::newRow("folder") << g_dir.path();
    QTest::newRow("fifo") << fifo;
    QTest::newRow("device") << QStringLiteral("/dev/zero");
    QTest::newRow("empty") << saved({});
    QTest::newRow("not-a-picture") << saved("just words\n");
    QTest::newRow("png-truncated") << saved(encode(picture, "png").left(60));
    QTest::newRow("bmp-shorter-than-header") << saved(encode(picture, "bmp").left(1000));
    QTest::newRow("gif-without-screen") << saved(gif);

    // Headers that claim 30000 x 30000 pixels (HEIF: 100000 x 100000), with little behind.
    QByteArray jpeg = encode(picture, "jpeg");
    const qsizetype frame = jpeg.indexOf("\xff\xc0");
    QVERIFY(frame > 0);
    qToBigEndian<quint16>(30000, jpeg.data() + frame + 5); // height and width
    qToBigEndian<quint16>(30000, jpeg.data() + frame + 7);
    QTest::newRow("huge-jpeg") << saved(jpeg);
    QTest::newRow("huge-gif") << saved(made("convert 1 -page 30000x30000+0+0 gif:out", {picture}));
    QTest::newRow("huge-wmf") << saved(wmf({30000, 30000}, kRed, kGrey, 96));
    QTest::newRow("huge-emf") << saved(emf({30000, 30000}, kRed, kGrey));
    QByteArray heic = made("convert 1 heic:out", {picture});
    const qsizetype ispe = heic.indexOf("ispe"); // width and height after a version word
    QVERIFY(ispe > 0);
    qToBigEndian<quint32>(100000, heic.data() + ispe + 8);
    qToBigEndian<quint32>(100000, heic.data() + ispe + 12);
    QTest::newRow("huge-heic") << saved(heic);
}

void DecodeTest::refuses()
{
    QFETCH(QString, path);
    const QDeadlineTimer deadline(1000);
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(!deadline.hasExpired(), "took a second or longer");
    QVERIFY(decoded.image.isNull());
    QVERIFY2(isChineseReason(decoded.error), qPrintable(decoded.error));
}

// The broken pictures of Debian's test packages (tools/packages.sh): each decodes or fails with a
// reason, within seconds; none crashes.
void DecodeTest::brokenPictures()
{
    int files = 0;
    for (const char* folder : {"/usr/share/doc/libsixel-examples/examples/images",
                               "/usr/libexec/installed-tests/gdk-pixbuf",
                               "/usr/share/gocode/src/golang.org/x/image/testdata",
                               "/usr/share/doc/afl++-doc/afl/testcases/images"}) {
        for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
             ++files) {
            const QString path = it.next();
            const QDeadlineTimer deadline(10000);
            const auto decoded = platform::decodePictureFile(path);
            QVERIFY2(!deadline.hasExpired(), qPrintable(path));
            if (decoded.image.isNull())
                QVERIFY2(isChineseReason(decoded.error), qPrintable(path + ": " + decoded.error));
            else
                QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
        }
    }
    if (files == 0) QSKIP("not installed; tools/packages.sh lists the packages");
}

QTEST_MAIN(DecodeTest)
#include "tst_decode.moc"
