// The tile arithmetic against rectangles worked out by hand.

#include "app/TileGeometry.h"
#include "platform/RuntimeError.h"

#include <QTest>

#include <limits>

class TstTiles : public QObject
{
    Q_OBJECT
private slots:
    void tileSource_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("900x600 tile 1") << 1 << 13500.0 << 9000.0 << QRectF(0, 0, 4500, 3000);
        QTest::newRow("900x600 tile 6") << 6 << 13500.0 << 9000.0 << QRectF(9000, 3000, 4500, 3000);
        QTest::newRow("900x600 tile 8") << 8 << 13500.0 << 9000.0 << QRectF(4500, 6000, 4500, 3000);
        QTest::newRow("1000x700 tile 9") << 9 << 15000.0 << 10500.0 << QRectF(10000, 7000, 5000, 3500);
        // 16,777,218 px: its thirds are whole pixels, which single precision
        // cannot tell from their neighbours.
        QTest::newRow("strip tile 3") << 3 << 251658270.0 << 45.0
                                      << QRectF(167772180, 0, 83886090, 15);
    }
    void tileSource()
    {
        QFETCH(int, n);
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(QRectF, expected);
        const tiles::Rect r = tiles::tileSource(n, width, height);
        QCOMPARE(QRectF(r.x, r.y, r.width, r.height), expected);
        QCOMPARE(tiles::tileFileName(n), QStringLiteral("%1.jpg").arg(n));
    }

    // The second grid line is exactly twice the first, not a rounded 2/3.
    void twoThirdsIsTheThirdDoubled()
    {
        QCOMPARE(tiles::third(5940), 1980.0);
        QCOMPARE(tiles::twoThirds(5940), 3960.0);
        QCOMPARE(tiles::twoThirds(1), 2 * tiles::third(1));
    }

    void faultsAreRunTimeErrors_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("number");
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 5;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 6;
    }
    void faultsAreRunTimeErrors()
    {
        QFETCH(double, value);
        QFETCH(int, number);
        try {
            (void)tiles::third(value);
            QFAIL("no run-time error");
        } catch (const platform::RuntimeError& error) {
            QCOMPARE(int(error.number()), number);
        }
    }
};

QTEST_APPLESS_MAIN(TstTiles)
#include "tst_tiles.moc"
