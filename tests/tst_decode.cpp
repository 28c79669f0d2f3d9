#include "platform/ImageDecoder.h"
#include "support/TestPictures.h"

#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QtTest>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

using namespace testpictures;

namespace {

// Odd both ways, so that JPEG's blocks and a half-way split never fit it exactly.
const QSize kSize(61, 35);
const QRgb kRed = qRgb(255, 0, 0), kGrey = qRgb(128, 128, 128), kWhite = qRgb(255, 255, 255);
// Most rows store this, in one format or another.
const QImage kPicture = probe(kSize, kRed, kGrey);

// Made when first used: the decoding process is this test started again, and leaves without
// running destructors.
QTemporaryDir& dir()
{
    static QTemporaryDir made;
    return made;
}

// Fixtures go to TESSARINE_SEEDS when it names a folder: fuzz/run.sh seeds from them.
QString saved(const QByteArray& bytes)
{
    static int n = 0;
    const QString path =
        qEnvironmentVariable("TESSARINE_SEEDS", dir().path()) + '/' + QString::number(++n);
    return written(path, bytes) ? path : QString();
}

// The metafiles no tool here writes are put together word by word, little-endian.
template <typename T> QByteArray words(const QList<T>& values)
{
    QByteArray out(qsizetype(values.size() * sizeof(T)), Qt::Uninitialized);
    qToLittleEndian<T>(values.constData(), qsizetype(values.size()), out.data());
    return out;
}

// A placeable WMF of `size` at 96 dpi, in `inch` units an inch: a red top-left quarter outlined
// in black `pen` units wide or not at all, the rest left blank but for `letters` letters as high
// as the drawing from its middle on; the quarter once more as a polygon reaching `reach` times as
// far.
QByteArray wmf(QSize size, quint16 inch = 1440, quint16 pen = 0, quint16 letters = 0, int reach = 1)
{
    const auto w = quint16(size.width() * inch / 96), h = quint16(size.height() * inch / 96);
    const auto fw = quint16(w / 2 * reach), fh = quint16(h / 2 * reach);
    QByteArray records;
    const auto record = [&](quint16 function, std::initializer_list<quint16> p) {
        records += words<quint16>({quint16(3 + p.size()), 0, function}) + words<quint16>(p);
    };
    record(0x020C, {h, w});                                 // SetWindowExt
    record(0x02FA, {quint16(pen ? 0 : 5), pen, 0, 0, 0});   // the pen, object 0
    record(0x012D, {0});                                    // selected
    record(0x02FC, {0, 0x00FF, 0, 0});                      // a solid red brush, object 1
    record(0x012D, {1});                                    // selected
    record(0x041B, {quint16(h / 2), quint16(w / 2), 0, 0}); // Rectangle
    record(0x0538, {1, 4, 0, 0, fw, 0, fw, fh, 0, fh}); // a PolyPolygon, drawn polygon by polygon
    if (letters) {
        record(0x02FB, {quint16(-h), 0, 0, 0, 400, 0, 0, 0, 0}); // a font, object 2, selected
        record(0x012D, {2});
        records += words<quint16>({quint16(6 + letters / 2), 0, 0x0521, letters}) +
                   QByteArray(letters, 'W') + words<quint16>({quint16(h / 2), quint16(w / 2)});
    }
    records += words<quint16>({3, 0, 0}); // the end, a record without parameters
    // The placeable header ends in its words XORed; the metafile's own header counts in words.
    return words<quint16>({0xCDD7, 0x9AC6, 0, 0, 0, w, h, inch, 0, 0,
                           quint16(0xCDD7 ^ 0x9AC6 ^ w ^ h ^ inch)}) +
           words<quint16>({1, 9, 0x0300, quint16(9 + records.size() / 2), 0, 3,
                           quint16(std::max(13, 6 + letters / 2)), 0, 0}) +
           records;
}

// The same as an EMF recorded on a 96-dpi device, and a line 50 pixels wide zig-zagging from
// side to side through `points` points.
QByteArray emf(QSize size, quint32 points = 0)
{
    QByteArray records;
    const auto record = [&](quint32 type, QList<quint32> p) {
        records += words<quint32>({type, quint32(8 + 4 * p.size())}) + words(p);
    };
    const auto w = quint32(size.width()), h = quint32(size.height());
    record(37, {0x80000008u});                    // the stock null pen selected
    record(39, {1, 0, 0x0000FF, 0});              // a solid red brush, object 1
    record(37, {1});                              // selected
    record(43, {0, 0, w / 2, h / 2});             // Rectangle
    QList<quint32> zigzag = {0, 0, w, h, points}; // bounds, then the points
    for (quint32 i = 0; i < points; ++i)
        zigzag << i % 2 * w << i * h / points;
    if (points) // a black pen 50 pixels wide, object 2, selected; Polyline
        records += words<quint32>({38, 28, 2, 0, 50, 0, 0, 37, 12, 2}), record(4, zigzag);
    record(14, {0, 16, 20}); // the end
    // Bounds in pixels around what is drawn, frame in 0.01 mm around the whole picture; a 960 x
    // 480 pixel device of 254 x 127 mm: 96 dpi.
    return words<quint32>({1, 88, 0, 0, w / 2 - 1, h / 2 - 1, 0, 0, w * 2540 / 96, h * 2540 / 96}) +
           words<quint32>({0x464D4520, 0x10000, quint32(88 + records.size()), 6, 2, 0, 0, 0, 960,
                           480, 254, 127}) +
           records;
}

} // namespace

class DecodeTest : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
};

// Rows of a picture file and what it must decode to; a size of 0 x 0 asks for a refusal.
void DecodeTest::decodes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<QRgb>("mark");  // expected in the top-left quarter
    QTest::addColumn<QRgb>("field"); // expected in the other three
    QTest::addColumn<QSize>("size");
    const auto row = [](const QString& name, const QByteArray& bytes, int tolerance,
                        QRgb mark = kRed, QRgb field = kGrey, QSize size = kSize) {
        // Without ImageMagick, or with Qt's PNG reader, which shows an index past the palette
        // as its first colour.
        if (!kMakesPictures && (bytes.isEmpty() || name == "png-past-the-palette")) return;
        QTest::newRow(qPrintable(name)) << saved(bytes) << tolerance << mark << field << size;
    };
    const auto refused = [](const char* name, const QString& path, QSize size = {0, 0}) {
        QTest::newRow(name) << path << 0 << kRed << kGrey << size;
    };
    // clang-format off
    for (const char* format : {"png", "bmp", "tiff", "webp"})
        row(format, encode(kPicture, format), 0);
    row("progressive", made("convert 1 -quality 100 -interlace Plane jpg:out", {kPicture}), 12);
    row("jpeg-grey", made("convert 1 -colorspace Gray jpg:out", {probe(kSize, kWhite, kGrey)}), 3, kWhite);
    row("jpeg-cmyk", made("convert 1 -colorspace CMYK jpg:out", {kPicture}), 8);
    // Pictures stored turned the opposite way of their EXIF orientation, so that they show upright:
    // the decoder hands on the stored rows and the turn, whatever the turn, and these are shown
    // as Qt's reader shows them. Mirrored, transposed, and photos of more than 16 MiB turned a
    // quarter either way, in noise that only Qt's own pixels can match.
    for (const char* turn : {"-flop -orient TopRight", "-transpose -orient LeftTop"})
        row(turn, turnedJpeg(kPicture, turn), 3);
    for (const char* turn : {"-rotate 270 -orient RightTop", "-rotate 90 -orient LeftBottom"})
        row(turn + QStringLiteral(" large"), turnedJpeg(noise(2401, 1799), turn), 255, kRed, kGrey, {2401, 1799});
    row("gif-first-frame", made("convert 1 2 gif:out", {kPicture, probe(kSize, kGrey, kRed)}), 0);
    const QImage small = probe({16, 16}, kGrey, kGrey);
    row("ico-largest", made("convert 1 2 3 ico:out", {small, kPicture, small.scaled(32, 32)}), 0);
    row("heic", made("convert 1 -quality 95 heic:out", {kPicture}), 12);
    row("wmf", wmf(kSize), 0, kRed, kWhite);
    row("emf", emf(kSize), 0, kRed, kWhite);
    // Drawings asking for 300000 x 75000 pixels are drawn at the cap, keeping their shape.
    row("wmf-giant", wmf({300000, 75000}, 10), 0, kRed, kWhite, {8192, 2048});
    row("emf-giant", emf({300000, 75000}), 0, kRed, kWhite, {8192, 2048});
    // Sixteen bits with a colour key (red), flattened as ImageMagick does it; palette indices
    // past the palette's end (here, past its one red) read as opaque black.
    row("png48-colour-key", made("convert 1 -transparent red -define png:bit-depth=16 "
                                 "-define png:color-type=2 png:out", {kPicture}), 0, kWhite);
    QImage indexed = kPicture.convertToFormat(QImage::Format_Indexed8, {kRed, kGrey});
    indexed.setColorCount(1); // the grey pixels keep their index, 1
    row("png-past-the-palette", encode(indexed, "png"), 0, kRed, qRgb(0, 0, 0));

    // Colours: (200,100,50) in Display P3 is (215,93,31) in sRGB.
    QImage p3 = probe(kSize, qRgb(200, 100, 50), qRgb(200, 100, 50));
    p3.setColorSpace(QColorSpace::DisplayP3);
    for (const char* format : {"png", "jpeg"})
        row(format + QStringLiteral("-icc-p3"), encode(p3, format), 3, qRgb(215, 93, 31), qRgb(215, 93, 31));
    QImage half(kSize, QImage::Format_ARGB32);
    half.fill(qRgba(255, 0, 0, 128));
    row("png-alpha-over-white", encode(half, "png"), 0, qRgb(255, 127, 127), qRgb(255, 127, 127));
    // Sixteen bits a channel, and with alpha.
    row("png48", made("convert 1 png48:out", {kPicture}), 0);
    row("png64", made("convert 1 png64:out", {half}), 0, qRgb(255, 127, 127), qRgb(255, 127, 127));
    // Stored (20,27,200) under gAMA, with sRGB's cHRM or none; expected from the sRGB curve.
    const QRgb blue = qRgb(20, 27, 200);
    for (const auto& [options, expected] : {std::pair{"-set gamma 0.45455", blue},
                                            {"-set gamma 0.45455 -define png:exclude-chunk=cHRM", blue},
                                            {"-set gamma 1.0", qRgb(79, 92, 229)},
                                            {"-set gamma 0.55556", qRgb(26, 36, 210)}})
        row(options, made(QStringLiteral("convert 1 %1 png24:out").arg(options), {probe(kSize, blue, blue)}), 2,
            expected, expected);
    // Bit fields widen by bit replication: 132 is 16 of 31 and 130 is 32 of 63.
    if (kMakesPictures) {
        const QImage whiteOnGrey = probe(kSize, kWhite, qRgb(132, 132, 132));
        row("bmp-565", made("convert 1 -define bmp:subtype=RGB565 bmp:out", {whiteOnGrey}), 0, kWhite, qRgb(132, 130, 132));
        QByteArray topDown = made("convert 1 -flip -define bmp:subtype=RGB565 bmp:out", {whiteOnGrey});
        qToLittleEndian<qint32>(-kSize.height(), topDown.data() + 22); // rows stored from the top
        row("bmp-565-top-down", topDown, 0, kWhite, qRgb(132, 130, 132));
        QByteArray uncompressed = made("convert 1 -define bmp:subtype=RGB555 bmp:out", {whiteOnGrey});
        uncompressed[30] = 0; // sixteen bits without masks are 5-5-5
        row("bmp-555", uncompressed, 0, kWhite, qRgb(132, 132, 132));
        // Ten bits a field: white stays white, transparent black is black.
        QByteArray wide =
            made("convert 1 -transparent black -define bmp:format=bmp4 bmp:out", {probe(kSize, kWhite, qRgb(0, 0, 0))});
        for (const auto& [at, mask] : {std::pair{54, 0x3ff00000u}, {58, 0xffc00u}, {62, 0x3ffu}, {66, 0u}})
            qToLittleEndian(mask, wide.data() + at);
        row("bmp-32-10bit", wide, 0, kWhite, qRgb(0, 0, 0));
    }

    refused("missing", dir().filePath(QStringLiteral("none")));
    refused("folder", dir().path());
#ifdef Q_OS_WIN
    refused("device", QStringLiteral("NUL"));
#else
    const QString fifo = dir().filePath(QStringLiteral("fifo")); // never a seed
    QVERIFY(QProcess::execute(QStringLiteral("mkfifo"), {fifo}) == 0);
    refused("fifo", fifo);
    refused("device", QStringLiteral("/dev/zero"));
#endif
    refused("empty", saved({}));
    refused("not-a-picture", saved("just words\n"));
    refused("png-truncated", saved(encode(kPicture, "png").left(60)));
    // Pictures whose cost only their library could bound, each refused or drawn within 3 s: a
    // pen and letters as wide and high as the drawing and a polygon reaching 56 times as far; a
    // line of 50000 points across a drawing; a megabyte of scans over a grey picture, each going
    // over every pixel, and a progressive JPEG claiming 16000 x 16000 pixels.
    refused("wmf-pen-text-far-off", saved(wmf({4800, 4800}, 10, 100, 100, 56)), {-1, -1});
    refused("emf-zigzag", saved(emf({2000, 2000}, 50000)), {-1, -1});
    QByteArray scans;
    QBuffer buffer(&scans);
    QImageWriter progressive(&buffer, "jpeg");
    progressive.setProgressiveScanWrite(true);
    QVERIFY(progressive.write(probe({2000, 2000}, kGrey, kGrey)));
    const qsizetype last = scans.lastIndexOf("\xff\xda"), end = scans.size() - 2;
    scans.insert(end, scans.mid(last, end - last).repeated(int(1000000 / (end - last))));
    refused("jpeg-many-scans", saved(scans));
    // Headers that claim 30000 x 30000 pixels (HEIF: 100000 x 100000), with little behind: the
    // two sides stand big-endian `at` bytes past the marker. Unpatched, the picture is fine.
    const auto claiming = [](QByteArray bytes, const char* marker, int at, auto side) {
        const decltype(side) sides[] = {side, side};
        if (const qsizetype found = bytes.indexOf(marker); found > 0)
            qToBigEndian<decltype(side)>(sides, 2, bytes.data() + found + at);
        return saved(bytes);
    };
    refused("huge-jpeg", claiming(encode(kPicture, "jpeg"), "\xff\xc0", 5, quint16(30000)));
    refused("huge-progressive-jpeg", claiming(made("convert 1 -interlace Plane jpg:out", {kPicture}),
                                              "\xff\xc2", 5, quint16(16000)));
    if (kMakesPictures) {
        refused("huge-gif", saved(made("convert 1 -page 30000x30000+0+0 gif:out", {kPicture})));
        refused("huge-heic", claiming(made("convert 1 heic:out", {kPicture}), "ispe", 8, quint32(100000)));
    }
    // The broken pictures of Debian's test packages (tools/packages.sh), those installed: each
    // decodes or fails with a reason, within seconds; none crashes. -1 x -1: either outcome.
    for (const char* folder :
         {"/usr/share/doc/libsixel-examples/examples/images", "/usr/libexec/installed-tests/gdk-pixbuf",
          "/usr/share/gocode/src/golang.org/x/image/testdata", "/usr/share/doc/afl++-doc/afl/testcases/images"})
        for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            refused(qPrintable(it.next()), it.filePath(), {-1, -1});
    // clang-format on
}

void DecodeTest::decodes()
{
    QFETCH(QString, path);
    QFETCH(int, tolerance);
    QFETCH(QRgb, mark);
    QFETCH(QRgb, field);
    QFETCH(QSize, size);
    // Seconds of work, the decoding process's included, which a busy machine does not stretch.
    // Windows counts the seconds on the clock, and under Wine starting the decoding process
    // takes a moment more, as it does under the sanitizers.
#ifdef Q_OS_WIN
    const double slack = 1;
#else
    const double slack = 0.5 * TESSARINE_SANITIZED;
#endif
    const auto seconds = [] {
#ifdef Q_OS_WIN
        return double(std::clock()) / CLOCKS_PER_SEC;
#else
        rusage child{};
        getrusage(RUSAGE_CHILDREN, &child);
        return double(std::clock()) / CLOCKS_PER_SEC + child.ru_utime.tv_sec +
               child.ru_stime.tv_sec + (child.ru_utime.tv_usec + child.ru_stime.tv_usec) / 1e6;
#endif
    };
    const double start = seconds();
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(seconds() - start < 3 + slack,
             qPrintable(QString::number(seconds() - start)));
    // A picture in the one format the window takes, or a reason for the user: Chinese, with no
    // English beyond a format's name.
    static const QRegularExpression chinese(QStringLiteral(
        "^(HEIF|PNG|JPEG|GIF|BMP|[^A-Za-z])*\\p{Han}(HEIF|PNG|JPEG|GIF|BMP|[^A-Za-z])*$"));
    QVERIFY2(decoded.image.isNull()
                 ? chinese.match(decoded.error).hasMatch()
                 : decoded.error.isEmpty() && decoded.image.format() == QImage::Format_RGB32,
             qPrintable(decoded.error));
    // As shown: mirrored, flipped, then turned a quarter clockwise, as Qt's reader does it.
    QImage image = decoded.image;
    image.mirror(decoded.turn & QImageIOHandler::TransformationMirror,
                 decoded.turn & QImageIOHandler::TransformationFlip);
    if (decoded.turn & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    if (size.isValid()) QCOMPARE(image.size(), size);
    if (size.isEmpty()) return;
    const int right = size.width() - 1, bottom = size.height() - 1;
    for (const auto& [x, y, expected] :
         {std::tuple{0, 0, mark}, {right, 0, field}, {0, bottom, field}, {right, bottom, field}})
        QVERIFY2(difference(image.copy(x, y, 1, 1), probe({1, 1}, expected, expected)) <= tolerance,
                 qPrintable(QString::asprintf("(%d,%d) is %x", x, y, image.pixel(x, y))));
        // Our own JPEG path must give every pixel exactly as Qt's reader does.
#ifndef Q_OS_WIN // (Windows has no path of its own: Qt's reader reads them there)
    if (QImageReader(path).format() == "jpeg") QCOMPARE(image, shownByQt(path));
#endif
}

QTEST_MAIN(DecodeTest)
#include "tst_decode.moc"
