// The tile arithmetic, checked against values worked out by hand.

#include "app/TileGeometry.h"
#include "platform/RuntimeError.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestTileGeometry : public QObject
{
    Q_OBJECT

private slots:
    void thirds_data();
    void thirds();
    void sourceRectangles_data();
    void sourceRectangles();
    void thirdsCoverThePictureWithoutGapOrOverlap_data();
    void thirdsCoverThePictureWithoutGapOrOverlap();
    void invalidQuotientsRaise_data();
    void invalidQuotientsRaise();
    void tileNames();
};

// Inner sizes are in twips, 15 to a pixel.
void TestTileGeometry::thirds_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<float>("third");
    QTest::addColumn<float>("twoThirds");
    QTest::newRow("900 px") << 13500.0f << 4500.0f << 9000.0f;
    QTest::newRow("600 px") << 9000.0f << 3000.0f << 6000.0f;
    QTest::newRow("1000 px") << 15000.0f << 5000.0f << 10000.0f;
    QTest::newRow("700 px") << 10500.0f << 3500.0f << 7000.0f;
    QTest::newRow("1080 px") << 16200.0f << 5400.0f << 10800.0f;
    QTest::newRow("1 px") << 15.0f << 5.0f << 10.0f;
    QTest::newRow("2 px") << 30.0f << 10.0f << 20.0f;
    // The preview's user scale: lines at 1980 and exactly twice that.
    QTest::newRow("preview height") << 5940.0f << 1980.0f << 3960.0f;
    QTest::newRow("preview width") << 6000.0f << 2000.0f << 4000.0f;
    // Not a multiple of 3: the single-precision quotient, doubled exactly.
    QTest::newRow("100 units") << 100.0f << 33.333332f << 66.666664f;
}

void TestTileGeometry::thirds()
{
    QFETCH(float, value);
    QFETCH(float, third);
    QFETCH(float, twoThirds);
    QCOMPARE(tiles::third(value), third);
    QCOMPARE(tiles::twoThirds(value), twoThirds);
    QCOMPARE(tiles::twoThirds(value), 2.0f * tiles::third(value));
}

void TestTileGeometry::sourceRectangles_data()
{
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::addColumn<int>("tile");
    QTest::addColumn<QRectF>("source");
    QTest::newRow("900x600 tile 1") << 13500.0f << 9000.0f << 1 << QRectF(0, 0, 4500, 3000);
    QTest::newRow("900x600 tile 3") << 13500.0f << 9000.0f << 3 << QRectF(9000, 0, 4500, 3000);
    QTest::newRow("900x600 tile 6") << 13500.0f << 9000.0f << 6 << QRectF(9000, 3000, 4500, 3000);
    QTest::newRow("900x600 tile 7") << 13500.0f << 9000.0f << 7 << QRectF(0, 6000, 4500, 3000);
    QTest::newRow("1000x700 tile 5") << 15000.0f << 10500.0f << 5 << QRectF(5000, 3500, 5000, 3500);
    QTest::newRow("1000x700 tile 9")
        << 15000.0f << 10500.0f << 9 << QRectF(10000, 7000, 5000, 3500);
    QTest::newRow("1x1 tile 8") << 15.0f << 15.0f << 8 << QRectF(5, 10, 5, 5);
}

void TestTileGeometry::sourceRectangles()
{
    QFETCH(float, width);
    QFETCH(float, height);
    QFETCH(int, tile);
    QFETCH(QRectF, source);
    const tiles::Rect r = tiles::tileSource(tile, width, height);
    QCOMPARE(QRectF(r.x, r.y, r.width, r.height), source);
}

void TestTileGeometry::thirdsCoverThePictureWithoutGapOrOverlap_data()
{
    QTest::addColumn<int>("pixelsWide");
    QTest::addColumn<int>("pixelsHigh");
    QTest::newRow("900x600") << 900 << 600;
    QTest::newRow("1000x700") << 1000 << 700;
    QTest::newRow("1x2") << 1 << 2;
    QTest::newRow("8000x6001") << 8000 << 6001;
}

// Row by row and column by column, each rectangle starts where the one
// before ends, and the last ends at the picture's edge.
void TestTileGeometry::thirdsCoverThePictureWithoutGapOrOverlap()
{
    QFETCH(int, pixelsWide);
    QFETCH(int, pixelsHigh);
    const float w = pixelsWide * 15.0f, h = pixelsHigh * 15.0f;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const tiles::Rect r = tiles::tileSource(3 * row + column + 1, w, h);
            if (column > 0) {
                const tiles::Rect left = tiles::tileSource(3 * row + column, w, h);
                QCOMPARE(left.x + left.width, r.x);
            }
            if (row > 0) {
                const tiles::Rect above = tiles::tileSource(3 * (row - 1) + column + 1, w, h);
                QCOMPARE(above.y + above.height, r.y);
            }
            if (column == 2)
                QVERIFY(std::abs(r.x + r.width - w) <= w * 1e-6f);
            if (row == 2)
                QVERIFY(std::abs(r.y + r.height - h) <= h * 1e-6f);
        }
    }
}

void TestTileGeometry::invalidQuotientsRaise_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("number");
    QTest::newRow("not a number")
        << std::numeric_limits<float>::quiet_NaN() << int(platform::RuntimeError::InvalidProcedureCall);
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity()
                              << int(platform::RuntimeError::Overflow);
}

void TestTileGeometry::invalidQuotientsRaise()
{
    QFETCH(float, value);
    QFETCH(int, number);
    try {
        (void)tiles::tileSource(5, value, 9000.0f);
        QFAIL("no run-time error");
    } catch (const platform::RuntimeError& error) {
        QCOMPARE(int(error.number()), number);
    }
    QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, (void)tiles::tileSource(0, 10, 10));
    QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, (void)tiles::tileSource(10, 10, 10));
}

void TestTileGeometry::tileNames()
{
    QStringList names;
    for (int n = 1; n <= tiles::TileCount; ++n)
        names << tiles::tileFileName(n);
    QCOMPARE(names, QStringList({"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg", "6.jpg", "7.jpg",
                                 "8.jpg", "9.jpg"}));
}

QTEST_APPLESS_MAIN(TestTileGeometry)
#include "tst_tilegeometry.moc"
