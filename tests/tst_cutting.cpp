// Cutting the loaded picture into nine tiles, and what happens when the
// tiles cannot be written.  Runs without root's permission overrides, so
// read-only files and folders refuse writes as they do for a person.

#include "app/Form1.h"
#include "platform/ImageDecoder.h"
#include "support/FakeModalHost.h"
#include "support/Fixtures.h"
#include "tools/fixtures/PictureFixtures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString Done = QStringLiteral("图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可");

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestCutting : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void nothingLoadedIsRefused();
    void tilesAreBitmapsOfEqualSize_data();
    void tilesAreBitmapsOfEqualSize();
    void exactThirdsAreCopiedPixelForPixel_data();
    void exactThirdsAreCopiedPixelForPixel();
    void twoRunsWriteTheSameBytes();
    void thankYouCardDoesNotChangeWhatIsCut();
    void failedWritesKeepEveryOldFile_data();
    void failedWritesKeepEveryOldFile();
    void theLoadedPictureIsNeverOverwritten();
    void tilesShowWhatThePersonSaw_data();
    void tilesShowWhatThePersonSaw();
    void tilesAreTheBitmapsQtWrites_data();
    void tilesAreTheBitmapsQtWrites();
    void aWriteCutShortIsReported();

private:
    QString load(const QImage& picture, const QString& name = QStringLiteral("photo.png"));
    QStringList tilePaths() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<FakeModalHost> m_host;
};

void TestCutting::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_host = std::make_unique<FakeModalHost>();
    m_form = std::make_unique<Form1>();
    m_form->Start();
}

void TestCutting::cleanup()
{
    QVERIFY(m_host->untrapped.isEmpty()); // the program never ended
    m_form.reset();
    m_host.reset();
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir.reset();
}

QString TestCutting::load(const QImage& picture, const QString& name)
{
    const QString path = m_dir->filePath(name);
    fixtures::write(picture, path);
    m_host->choices << path;
    m_form->Command1.press();
    return path;
}

QStringList TestCutting::tilePaths() const
{
    QStringList paths;
    for (int n = 1; n <= 9; ++n)
        paths << m_dir->filePath(QStringLiteral("%1.jpg").arg(n));
    return paths;
}

void TestCutting::nothingLoadedIsRefused()
{
    const QRect canvas = m_form->Picture1.widget()->geometry();
    m_form->Command2.press();
    // And after a failed load.
    fixtures::writeText(m_dir->filePath("bad.jpg"), "text");
    m_host->choices << m_dir->filePath("bad.jpg");
    m_form->Command1.press();
    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(3));
    for (size_t i : {size_t(0), size_t(2)}) {
        QCOMPARE(m_host->messages[i].prompt, QString("请先载入图片"));
        QCOMPARE(m_host->messages[i].buttons, 64);
        QCOMPARE(m_host->messages[i].title, QString("通知:"));
    }
    QCOMPARE(m_form->Picture1.widget()->geometry(), canvas);
    QCOMPARE(QDir(m_dir->path()).entryList({"*.jpg"}), QStringList("bad.jpg"));
}

void TestCutting::tilesAreBitmapsOfEqualSize_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("tile");
    QTest::newRow("900x600") << QSize(900, 600) << QSize(300, 200);
    QTest::newRow("1080x1080 square") << QSize(1080, 1080) << QSize(360, 360);
    QTest::newRow("1000x700") << QSize(1000, 700) << QSize(333, 233);
    QTest::newRow("1001x701") << QSize(1001, 701) << QSize(334, 234);
    QTest::newRow("1x1") << QSize(1, 1) << QSize(1, 1);
    QTest::newRow("2x2") << QSize(2, 2) << QSize(1, 1);
    QTest::newRow("5x1") << QSize(5, 1) << QSize(2, 1);
}

void TestCutting::tilesAreBitmapsOfEqualSize()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, tile);
    load(fixtures::pattern(picture.width(), picture.height()));
    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, Done);
    QCOMPARE(m_host->messages[0].buttons, 64);
    QCOMPARE(m_host->messages[0].title, QString("据说打赏作者的人都长的很帅:"));
    for (const QString& path : tilePaths()) {
        QVERIFY2(contents(path).startsWith("BM"), qPrintable(path));
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.size(), tile);
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 10);
}

void TestCutting::exactThirdsAreCopiedPixelForPixel_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("900x600") << QSize(900, 600);
    QTest::newRow("1080x1080") << QSize(1080, 1080);
    QTest::newRow("3x3") << QSize(3, 3);
}

// Put side by side, the tiles give back the picture exactly.
void TestCutting::exactThirdsAreCopiedPixelForPixel()
{
    QFETCH(QSize, size);
    const QImage picture = fixtures::pattern(size.width(), size.height());
    load(picture);
    m_form->Command2.press();
    const int w = size.width() / 3, h = size.height() / 3;
    for (int n = 1; n <= 9; ++n) {
        QImageReader reader(tilePaths().at(n - 1));
        reader.setDecideFormatFromContent(true);
        const QImage tile = reader.read().convertToFormat(QImage::Format_RGB32);
        const QRect third(((n - 1) % 3) * w, ((n - 1) / 3) * h, w, h);
        QVERIFY2(tile == picture.copy(third), qPrintable(QString("tile %1").arg(n)));
    }
}

void TestCutting::twoRunsWriteTheSameBytes()
{
    load(fixtures::pattern(1000, 700));
    m_form->Command2.press();
    QList<QByteArray> first;
    for (const QString& path : tilePaths())
        first << QCryptographicHash::hash(contents(path), QCryptographicHash::Sha256);
    m_form->Command2.press();
    for (int i = 0; i < 9; ++i)
        QCOMPARE(QCryptographicHash::hash(contents(tilePaths().at(i)), QCryptographicHash::Sha256),
                 first.at(i));
    QCOMPARE(m_host->messages.size(), size_t(2));
}

void TestCutting::thankYouCardDoesNotChangeWhatIsCut()
{
    const QImage picture = fixtures::pattern(90, 60);
    load(picture);
    m_form->Command3.press();
    m_form->Command2.press();
    QImageReader reader(tilePaths().at(0));
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.read().convertToFormat(QImage::Format_RGB32), picture.copy(0, 0, 30, 20));
}

void TestCutting::failedWritesKeepEveryOldFile_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("read-only tile 3") << "read-only file";
    QTest::newRow("tile 5 is a folder") << "folder";
    QTest::newRow("read-only folder") << "read-only folder";
    QTest::newRow("folder removed") << "removed";
}

// Earlier tiles stay byte for byte, nothing half-written or temporary is
// left, a message names the file, and the program goes on.
void TestCutting::failedWritesKeepEveryOldFile()
{
    QFETCH(QString, fault);
    const QStringList tiles = tilePaths();
    for (const QString& path : tiles)
        fixtures::writeText(path, "earlier tile " + path.toUtf8());
    load(fixtures::pattern(90, 60));
    QString failing;
    if (fault == "read-only file") {
        failing = tiles.at(2);
        QVERIFY(QFile::setPermissions(failing, QFile::ReadOwner));
    } else if (fault == "folder") {
        failing = tiles.at(4);
        QVERIFY(QFile::remove(failing));
        QVERIFY(QDir().mkdir(failing));
    } else if (fault == "read-only folder") {
        failing = tiles.at(0);
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
    } else {
        failing = tiles.at(0);
        QVERIFY(QDir(m_dir->path()).removeRecursively());
    }

    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(1));
    const FakeModalHost::Message& message = m_host->messages[0];
    QVERIFY2(message.prompt.startsWith("图片保存失败：" + failing + "\n"), qPrintable(message.prompt));
    QVERIFY(message.prompt.size() > QString("图片保存失败：" + failing + "\n").size()); // a reason
    QCOMPARE(message.buttons, 16);
    QCOMPARE(message.title, QString("警告："));

    if (fault != "removed") {
        for (const QString& path : tiles) {
            if (fault != "folder" || path != failing)
                QCOMPARE(contents(path), "earlier tile " + path.toUtf8());
        }
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), fault == "folder" ? 9 : 10); // the tiles and photo.png
    }
    // Still running and still loaded: the next press tries again.
    QVERIFY(m_form->Picture1.Picture().Handle() != 0);
}

void TestCutting::theLoadedPictureIsNeverOverwritten()
{
    const QString path = load(fixtures::pattern(30, 30), "5.jpg");
    const QByteArray original = contents(path);
    // The same file reached through another spelling of the folder.
    m_form->SourceFolder = m_dir->path() + "/./";
    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt,
             QString("原图片与切出的图片同名，请先把原图片改名或移到别的文件夹"));
    QCOMPARE(m_host->messages[0].buttons, 16);
    QCOMPARE(m_host->messages[0].title, QString("警告："));
    QCOMPARE(contents(path), original);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList("5.jpg"));
}

// Nine plain blocks of distinct colours, one for each tile.
static QImage nineBlocks(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int n = 3 * (3 * y / height) + 3 * x / width;
            image.setPixel(x, y, qRgb(30 * n, 240 - 25 * n, (n % 2) * 200 + 20));
        }
    return image;
}

void TestCutting::tilesShowWhatThePersonSaw_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QImage>("seen");
    QTest::addColumn<int>("tolerance");
    const QImage upright = nineBlocks(90, 60);
    for (int orientation : {3, 6, 8})
        QTest::addRow("jpeg turned by exif %d", orientation)
            << fixtures::encodeWithQt(fixtures::storedForOrientation(upright, orientation), "jpeg",
                                      orientation)
            << upright << 12;
    if (fixtures::canEncodeHeic())
        QTest::newRow("heic turned by exif 6")
            << fixtures::encodeHeic(fixtures::storedForOrientation(upright, 6), 6) << upright << 16;

    // A phone's Display P3 colour comes out as the sRGB colour it shows as.
    QImage p3(90, 60, QImage::Format_RGB32);
    p3.fill(qRgb(200, 100, 50));
    p3.setColorSpace(QColorSpace::DisplayP3);
    QImage p3Seen(90, 60, QImage::Format_RGB32);
    p3Seen.fill(qRgb(215, 93, 31));
    QTest::newRow("display p3") << fixtures::encodeWithQt(p3, "png") << p3Seen << 2;

    // Half-transparent red lies on white, not black.
    QImage half(90, 60, QImage::Format_ARGB32);
    half.fill(qRgba(255, 0, 0, 128));
    QImage halfSeen(90, 60, QImage::Format_RGB32);
    halfSeen.fill(qRgb(255, 127, 127));
    QTest::newRow("half transparent") << fixtures::encodeWithQt(half, "png") << halfSeen << 1;
}

// Each tile's middle shows, upright and in the colours the person saw, the
// middle of its third of the picture.
void TestCutting::tilesShowWhatThePersonSaw()
{
    QFETCH(QByteArray, file);
    QFETCH(QImage, seen);
    QFETCH(int, tolerance);
    const QString path = m_dir->filePath("photo.img");
    fixtures::writeText(path, file);
    m_host->choices << path;
    m_form->Command1.press();
    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, Done);
    for (int n = 1; n <= 9; ++n) {
        QImageReader reader(tilePaths().at(n - 1));
        reader.setDecideFormatFromContent(true);
        const QImage tile = reader.read();
        QCOMPARE(tile.size(), QSize(30, 20));
        const QRgb got = tile.pixel(15, 10);
        const QRgb want = seen.pixel(30 * ((n - 1) % 3) + 15, 20 * ((n - 1) / 3) + 10);
        QVERIFY2(std::abs(qRed(got) - qRed(want)) <= tolerance &&
                     std::abs(qGreen(got) - qGreen(want)) <= tolerance &&
                     std::abs(qBlue(got) - qBlue(want)) <= tolerance,
                 qPrintable(QString("tile %1: %2 vs %3").arg(n).arg(QColor(got).name(),
                                                                     QColor(want).name())));
    }
}

void TestCutting::tilesAreTheBitmapsQtWrites_data()
{
    QTest::addColumn<QSize>("size");
    // Rows of 301 and 333 pixels need a byte of padding to reach 4 bytes.
    QTest::newRow("903x603, exact thirds") << QSize(903, 603);
    QTest::newRow("1000x701, scaled thirds") << QSize(1000, 701);
}

// Byte for byte what Qt's own "bmp" writer makes of the same tile: header
// (sizes, dots per metre), bottom-up rows and row padding.
void TestCutting::tilesAreTheBitmapsQtWrites()
{
    QFETCH(QSize, size);
    const QString path = load(fixtures::pattern(size.width(), size.height()));
    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(1));
    const QImage picture = platform::decodePictureFile(path).image;
    const int w = size.width() / 3, h = size.height() / 3;
    const bool exact = size.width() % 3 == 0 && size.height() % 3 == 0;
    for (int n = 1; n <= 9; ++n) {
        const QString tilePath = tilePaths().at(n - 1);
        QImage tile;
        if (exact) {
            tile = picture.copy(((n - 1) % 3) * w, ((n - 1) / 3) * h, w, h);
        } else {
            QImageReader reader(tilePath);
            reader.setDecideFormatFromContent(true);
            tile = reader.read().convertToFormat(QImage::Format_RGB32);
        }
        QBuffer expected;
        QVERIFY(expected.open(QIODevice::WriteOnly));
        QVERIFY(QImageWriter(&expected, "bmp").write(tile));
        QVERIFY2(contents(tilePath) == expected.data(), qPrintable(tilePath));
    }
}

// A write that stops part-way, as on a full disk (here the process's file
// size limit), is reported, and neither tiles nor temporary files are left.
void TestCutting::aWriteCutShortIsReported()
{
    load(fixtures::pattern(900, 600)); // tiles of 180,054 bytes
    rlimit previous{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 100 * 1024;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    m_form->Command2.press();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(m_host->messages.size(), size_t(1));
    const QString failed = QString("图片保存失败：") + tilePaths().at(0) + "\n";
    QVERIFY2(m_host->messages[0].prompt.startsWith(failed), qPrintable(m_host->messages[0].prompt));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList("photo.png"));
}

QTEST_MAIN(TestCutting)
#include "tst_cutting.moc"
