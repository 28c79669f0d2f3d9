// Checks the committed window icon: the image layout Windows picks its sizes from, the DIB
// details old renderers depend on, and that Qt, which loads the icon at run time, reads it.

#include <QImage>
#include <QImageReader>
#include <QtEndian>
#include <QtTest>

namespace {

const QString kIcoPath = QStringLiteral(TESSARINE_SOURCE_DIR "/resources/tessarine.ico");

struct Expected
{
    int size;
    int bitCount;
};

constexpr Expected kEntries[] = {{48, 8}, {32, 8}, {16, 8}, {128, 24}, {48, 32}, {32, 24}, {16, 8}};
constexpr int kCount = int(std::size(kEntries));

int stride(int bits)
{
    return (bits + 31) / 32 * 4;
}

} // namespace

class TestIcon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QFile file(kIcoPath);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        m_data = file.readAll();
        QVERIFY(m_data.size() > 6 + 16 * kCount);
    }

    void directoryListsSevenImagesInOrder()
    {
        QCOMPARE(u16(2), 1); // 1 = icon, 2 = cursor
        QCOMPARE(u16(4), kCount);
        quint32 nextOffset = 6 + 16 * kCount;
        for (int i = 0; i < kCount; ++i) {
            const int e = 6 + 16 * i;
            const QByteArray where = "entry " + QByteArray::number(i);
            QVERIFY2(u8(e) == kEntries[i].size && u8(e + 1) == kEntries[i].size, where);
            QVERIFY2(u8(e + 2) == 0, where); // 0 = 256 colours or more
            QVERIFY2(u16(e + 4) == 1 && u16(e + 6) == kEntries[i].bitCount, where);
            // Images are packed back to back and stay inside the file.
            QVERIFY2(u32(e + 12) == nextOffset, where);
            nextOffset += u32(e + 8);
        }
        QCOMPARE(qsizetype(nextOffset), m_data.size());
    }

    void bitmapsHaveIcoLayout()
    {
        for (int i = 0; i < kCount; ++i) {
            const int n = kEntries[i].size;
            const int bits = kEntries[i].bitCount;
            const int at = int(u32(6 + 16 * i + 12));
            const QByteArray where = "entry " + QByteArray::number(i);
            QVERIFY2(u32(at) == 40 && i32(at + 4) == n, where);
            QVERIFY2(i32(at + 8) == 2 * n, where); // colour rows plus AND mask rows
            QVERIFY2(u16(at + 12) == 1 && u16(at + 14) == bits && u32(at + 16) == 0, where);
            const quint32 used = u32(at + 32);
            QVERIFY2(bits != 8 || used == 0 || used == 256, where);
            const int palette = bits == 8 ? 256 * 4 : 0;
            const int xorSize = stride(n * bits) * n;
            QVERIFY2(int(u32(6 + 16 * i + 8)) == 40 + palette + xorSize + stride(n) * n, where);

            // The top-left pixel lies outside the rounded frame: its mask bit must be set,
            // and in palette and 24-bit images its colour must be black, since Windows XORs
            // the colour onto the screen there. Rows are stored bottom-up.
            const int andTop = at + 40 + palette + xorSize + stride(n) * (n - 1);
            QVERIFY2(u8(andTop) & 0x80, where);
            const int xorTop = at + 40 + palette + stride(n * bits) * (n - 1);
            if (bits == 8) {
                const int entry = at + 40 + 4 * u8(xorTop);
                QVERIFY2(u8(entry) == 0 && u8(entry + 1) == 0 && u8(entry + 2) == 0, where);
            } else {
                QVERIFY2(u8(xorTop) == 0 && u8(xorTop + 1) == 0 && u8(xorTop + 2) == 0, where);
            }
        }
    }

    void qtReadsEveryImage()
    {
        QImageReader reader(kIcoPath);
        QCOMPARE(reader.imageCount(), kCount);
        for (int i = 0; i < kCount; ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage image = reader.read();
            const QByteArray where = "image " + QByteArray::number(i);
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            const int n = kEntries[i].size;
            QVERIFY2(image.size() == QSize(n, n), where);
            // Qt's ico reader treats 24-bit images like 32-bit ones and ignores their AND
            // mask, so there it sees the black colour rows (Windows does apply the mask).
            const QRgb outside = image.pixel(0, 0);
            if (kEntries[i].bitCount == 24)
                QVERIFY2(outside == qRgb(0, 0, 0), where);
            else
                QVERIFY2(qAlpha(outside) == 0, where);
            QVERIFY2(qAlpha(image.pixel(n / 2, n / 2)) == 255, where);
        }
    }

    void hicolorPngsMatchTheirFolders()
    {
        for (int n : {16, 32, 48, 128}) {
            const QString path = QStringLiteral(TESSARINE_SOURCE_DIR
                                                "/resources/icons/hicolor/%1x%1/apps/tessarine.png")
                                     .arg(n);
            const QImage image(path);
            QCOMPARE(image.size(), QSize(n, n));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(image.pixel(n / 2, n / 2)), 255);
        }
    }

private:
    quint8 u8(int at) const { return quint8(m_data.at(at)); }
    quint16 u16(int at) const { return qFromLittleEndian<quint16>(m_data.constData() + at); }
    quint32 u32(int at) const { return qFromLittleEndian<quint32>(m_data.constData() + at); }
    qint32 i32(int at) const { return qFromLittleEndian<qint32>(m_data.constData() + at); }

    QByteArray m_data;
};

QTEST_GUILESS_MAIN(TestIcon)
#include "tst_icon.moc"
