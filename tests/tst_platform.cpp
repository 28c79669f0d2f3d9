// The platform services as the handlers rely on them: units and rounding,
// drawing into a box, and pictures to and from files.

#include "platform/Form.h"
#include "platform/Line.h"
#include "platform/PictureBox.h"
#include "platform/PictureFiles.h"
#include "platform/RuntimeError.h"
#include "platform/Controls.h"
#include "platform/DataObject.h"
#include "support/FakeModalHost.h"
#include "support/Fixtures.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <QTemporaryDir>
#include <QTest>

using namespace platform;

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void userScaleReadsBothWays();
    void sizesRoundToWholePixels_data();
    void sizesRoundToWholePixels();
    void framedBoxDrawsInsideItsFrame();
    void autoSizeFollowsThePicture();
    void picturesShareTheirPixels();
    void paintPictureMapsTheSourceRectangle_data();
    void paintPictureMapsTheSourceRectangle();
    void paintPictureCutsOffOutsideTheDrawingArea();
    void settingAPictureRedrawsFromItAlone();
    void savePictureWritesA24BitBitmapWhateverTheName();
    void savePictureReplacesOnlyAfterAFullWrite();
    void loadPictureRaisesOnWhatIsNoPicture_data();
    void loadPictureRaisesOnWhatIsNoPicture();
    void sameFileComparesIdentity();
    void untrappedErrorsAreReported();
    void checkBoxRaisesClickForCodeToo();
    void dropDataWithoutFilesRaises();

private:
    QTemporaryDir m_dir;
};

// The preview's user scale: 6000 units across and 5940 down over a
// 396 x 396-pixel drawing area.
void TestPlatform::userScaleReadsBothWays()
{
    Form form;
    PictureBox box(form);
    box.Move(0, 675, 6000, 6000);
    box.setUserScale(6000, 5940);
    QCOMPARE(box.Width(), 6000.0f);
    QCOMPARE(box.Height(), 6000.0f);
    QCOMPARE(box.Top(), 675.0f);
    QCOMPARE(box.ScaleWidth(), 6000.0f);
    QCOMPARE(box.ScaleHeight(), 5940.0f);

    PictureBox inner(box);
    inner.setBorderStyle(PictureBox::NoBorder);
    inner.Move(2000, 1980, 2000, 1980); // 132 px each way in both directions
    QCOMPARE(inner.widget()->geometry(), QRect(2 + 132, 2 + 132, 132, 132));
    QCOMPARE(inner.Left(), 2000.0f);
    QCOMPARE(inner.Top(), 1980.0f);
    QCOMPARE(inner.Width(), 2000.0f);

    Line line(box);
    line.setX1(2000);
    QCOMPARE(line.X1(), 2000.0f);
}

void TestPlatform::sizesRoundToWholePixels_data()
{
    QTest::addColumn<float>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("exact") << 4500.0f << 300;
    QTest::newRow("a third more") << 4545.4546f << 303;
    QTest::newRow("two thirds") << 5454.5454f << 364;
    QTest::newRow("a half rounds up") << 22.5f << 2;
    QTest::newRow("below one pixel") << 5.0f << 1;
    QTest::newRow("zero") << 0.0f << 1;
}

// Round to nearest; a box keeps at least one pixel to draw on.
void TestPlatform::sizesRoundToWholePixels()
{
    QFETCH(float, twips);
    QFETCH(int, pixels);
    Form form;
    PictureBox box(form);
    box.setBorderStyle(PictureBox::NoBorder);
    box.setWidth(twips);
    box.setHeight(twips);
    QCOMPARE(box.Image().image().size(), QSize(pixels, pixels));
    QCOMPARE(box.Width(), pixels * 15.0f);
    QCOMPARE(box.ScaleWidth(), pixels * 15.0f);
}

void TestPlatform::framedBoxDrawsInsideItsFrame()
{
    Form form;
    PictureBox box(form);
    box.Move(0, 0, 6000, 6000);
    QCOMPARE(box.Image().image().size(), QSize(396, 396));
    QCOMPARE(box.ScaleWidth(), 5940.0f);
}

void TestPlatform::autoSizeFollowsThePicture()
{
    Form form;
    PictureBox preview(form);
    preview.Move(0, 675, 6000, 6000);
    preview.setUserScale(6000, 5940);
    PictureBox full(preview);
    full.setBorderStyle(PictureBox::NoBorder);
    full.setAutoSize(true);
    full.setPicture(Picture(fixtures::pattern(900, 600)));
    QCOMPARE(full.ScaleWidth(), 13500.0f);
    QCOMPARE(full.ScaleHeight(), 9000.0f);
    // Outer size in the container's units: one unit is 0.99 twip across.
    QCOMPARE(full.Width(), float(13500 / 0.99));
    QCOMPARE(full.Height(), 9000.0f);
}

void TestPlatform::picturesShareTheirPixels()
{
    const Picture picture(fixtures::pattern(300, 200));
    QVERIFY(picture.Handle() != 0);
    QCOMPARE(Nothing.Handle(), 0);
    QCOMPARE(LoadPicture().Handle(), 0);

    Form form;
    PictureBox box(form);
    box.setBorderStyle(PictureBox::NoBorder);
    box.setAutoSize(true);
    box.setPicture(picture);
    QCOMPARE(box.Picture().image().constBits(), picture.image().constBits());
    QCOMPARE(box.Image().image().constBits(), picture.image().constBits());

    // Drawing into the box leaves the picture it came from untouched.
    box.PaintPicture(Picture(fixtures::pattern(10, 10)), 0, 0, 150, 150);
    QVERIFY(box.Image().image().constBits() != picture.image().constBits());
    QCOMPARE(picture.image(), fixtures::pattern(300, 200));
}

void TestPlatform::paintPictureMapsTheSourceRectangle_data()
{
    QTest::addColumn<QRectF>("sourceTwips");
    QTest::addColumn<QRect>("sourcePixels");
    QTest::newRow("top left third") << QRectF(0, 0, 1500, 1500) << QRect(0, 0, 100, 100);
    QTest::newRow("middle") << QRectF(1500, 1500, 1500, 1500) << QRect(100, 100, 100, 100);
    QTest::newRow("bottom right") << QRectF(3000, 3000, 1500, 1500) << QRect(200, 200, 100, 100);
}

// With a source of the drawing area's size in whole pixels, the box holds
// exactly those pixels of the picture.
void TestPlatform::paintPictureMapsTheSourceRectangle()
{
    QFETCH(QRectF, sourceTwips);
    QFETCH(QRect, sourcePixels);
    const QImage image = fixtures::pattern(300, 300);
    Form form;
    PictureBox canvas(form);
    canvas.setBorderStyle(PictureBox::NoBorder);
    canvas.setWidth(1500);
    canvas.setHeight(1500);
    canvas.PaintPicture(Picture(image), 0, 0, canvas.Width(), canvas.Height(), sourceTwips.x(),
                        sourceTwips.y(), sourceTwips.width(), sourceTwips.height());
    QCOMPARE(canvas.Image().image(), image.copy(sourcePixels));

    // Stretched twice as large from a picture of nine plain thirds, the
    // drawing is the chosen third's colour all over (edges aside, where the
    // filter may blend in a neighbour).
    QImage blocks(300, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 300; ++x)
            blocks.setPixel(x, y, qRgb(40 * (x / 100) + 20, 40 * (y / 100) + 20, 200));
    canvas.setWidth(3000);
    canvas.setHeight(3000);
    canvas.PaintPicture(Picture(blocks), 0, 0, 3000, 3000, sourceTwips.x(), sourceTwips.y(),
                        sourceTwips.width(), sourceTwips.height());
    const QImage drawn = canvas.Image().image();
    QCOMPARE(drawn.size(), QSize(200, 200));
    const QRgb expected = blocks.pixel(sourcePixels.center());
    QCOMPARE(drawn.pixel(5, 5), expected);
    QCOMPARE(drawn.pixel(100, 100), expected);
    QCOMPARE(drawn.pixel(194, 194), expected);
}

void TestPlatform::paintPictureCutsOffOutsideTheDrawingArea()
{
    Form form;
    PictureBox box(form);
    box.setBorderStyle(PictureBox::NoBorder);
    box.setWidth(1500);
    box.setHeight(1500);
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue = red;
    blue.fill(Qt::blue);
    box.PaintPicture(Picture(blue), 0, 0, 1500, 1500);
    box.PaintPicture(Picture(red), 750, 750, 1500, 1500); // half of it hangs out
    const QImage drawn = box.Image().image();
    QCOMPARE(drawn.size(), QSize(100, 100));
    QCOMPARE(drawn.pixelColor(25, 25), QColor(Qt::blue));
    QCOMPARE(drawn.pixelColor(75, 75), QColor(Qt::red));
    QCOMPARE(drawn.pixelColor(99, 99), QColor(Qt::red));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, box.PaintPicture(Nothing, 0, 0, 10, 10));
}

void TestPlatform::settingAPictureRedrawsFromItAlone()
{
    Form form;
    PictureBox box(form);
    box.setBorderStyle(PictureBox::NoBorder);
    box.setWidth(1500);
    box.setHeight(1500);
    const QColor background = box.Image().image().pixelColor(0, 0);
    QImage red(100, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    box.PaintPicture(Picture(red), 0, 0, 1500, 1500);
    QCOMPARE(box.Image().image().pixelColor(50, 50), QColor(Qt::red));
    box.setPicture(LoadPicture());
    QCOMPARE(box.Image().image().pixelColor(50, 50), background);
    QCOMPARE(box.Picture().Handle(), 0);
}

void TestPlatform::savePictureWritesA24BitBitmapWhateverTheName()
{
    const QString path = m_dir.filePath("tile.jpg");
    const QImage image = fixtures::pattern(303, 200);
    SavePicture(Picture(image), path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("BM"));
    QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 28), quint16(24)); // bits a pixel
    QCOMPARE(bytes.size(), 54 + ((303 * 3 + 3) & ~3) * 200);
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("bmp"));
    QCOMPARE(reader.read(), image);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SavePicture(Nothing, path));
}

// A failed save leaves the old file and no temporary file behind.
void TestPlatform::savePictureReplacesOnlyAfterAFullWrite()
{
    const QString path = m_dir.filePath("keep.jpg");
    fixtures::writeText(path, "old");
    QVERIFY_THROWS_EXCEPTION(RuntimeError,
                             SavePicture(Picture(fixtures::pattern(3, 3)),
                                         m_dir.filePath("missing/folder/1.jpg")));
    QDir folder(m_dir.path());
    folder.mkdir("5.jpg");
    QVERIFY_THROWS_EXCEPTION(RuntimeError,
                             SavePicture(Picture(fixtures::pattern(3, 3)), m_dir.filePath("5.jpg")));
    QVERIFY(QFileInfo(m_dir.filePath("5.jpg")).isDir());
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).filter(".part"), QStringList());
}

void TestPlatform::loadPictureRaisesOnWhatIsNoPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing") << "missing.jpg" << QByteArray();
    QTest::newRow("text named .jpg") << "text.jpg" << QByteArray("this is not a picture\n");
    QTest::newRow("empty") << "empty.png" << QByteArray("");
}

void TestPlatform::loadPictureRaisesOnWhatIsNoPicture()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString path = m_dir.filePath(name);
    if (name != "missing.jpg")
        fixtures::writeText(path, content);
    try {
        (void)LoadPicture(path);
        QFAIL("no run-time error");
    } catch (const RuntimeError& error) {
        QVERIFY(!error.description().isEmpty());
    }
}

void TestPlatform::sameFileComparesIdentity()
{
    const QString path = m_dir.filePath("same.png");
    fixtures::write(fixtures::pattern(3, 3), path);
    QVERIFY(SameFile(path, m_dir.path() + "/./same.png"));
    QVERIFY(QFile::link(path, m_dir.filePath("link.png")));
    QVERIFY(SameFile(path, m_dir.filePath("link.png")));
    QVERIFY(!SameFile(path, m_dir.filePath("other.png")));
}

// An error no handler trapped reaches the report (which ends the program);
// what the handler did before the error stays done.
void TestPlatform::untrappedErrorsAreReported()
{
    FakeModalHost host;
    bool before = false;
    dispatchEvent([&] {
        before = true;
        throw RuntimeError(RuntimeError::PermissionDenied, "Permission denied");
    });
    QVERIFY(before);
    QCOMPARE(host.untrapped, QStringList("Permission denied"));
    dispatchEvent([] {});
    QCOMPARE(host.untrapped.size(), 1);
}

// A handler that resets the box from inside its Click sees one more Click,
// with the new value, and no more.
void TestPlatform::checkBoxRaisesClickForCodeToo()
{
    Form form;
    CheckBox box(form);
    QList<int> seen;
    box.Click = [&] {
        seen << box.Value();
        if (box.Value() == 1)
            box.setValue(0);
    };
    box.setValue(1);
    QCOMPARE(seen, QList<int>({1, 0}));
    box.setValue(0); // no change, no Click
    QCOMPARE(seen.size(), 2);
}

void TestPlatform::dropDataWithoutFilesRaises()
{
    QVERIFY_THROWS_EXCEPTION(RuntimeError, (void)DataObject().Files(1));
    const DataObject three(QStringList{"/a/1.png", "/b/2.png", "/c/3.png"});
    QCOMPARE(three.Files(1), QString("/a/1.png"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, (void)three.Files(4));
}

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
