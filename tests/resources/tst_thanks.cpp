// Checks the stored thank-you card: the size the program shows it at, and a plain baseline
// colour JPEG, which every viewer and upload form accepts.

#include <QtTest>

class TestThanks : public QObject
{
    Q_OBJECT

private slots:
    // Walks the marker segments up to the scan instead of searching for byte pairs, which
    // could turn up inside an APP segment's payload.
    void frameIsBaselineColour()
    {
        QFile file(QStringLiteral(TESSARINE_SOURCE_DIR "/resources/thanks.jpg"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        m_data = file.readAll();
        QVERIFY(m_data.size() > 4);
        QCOMPARE(u16(0), 0xFFD8); // SOI
        QList<int> frames;
        int sof = -1;
        for (int at = 2;; at += 2 + u16(at + 2)) {
            QVERIFY2(at + 4 <= m_data.size(), "ran off the end before the scan");
            QCOMPARE(u8(at), 0xFF);
            const int marker = u8(at + 1);
            if (marker == 0xDA) // SOS: entropy-coded data follows
                break;
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                marker != 0xCC) {
                frames.append(marker);
                sof = at;
            }
        }
        QCOMPARE(frames, QList<int>{0xC0}); // baseline only; 0xC2 would be progressive
        QCOMPARE(u8(sof + 4), 8);           // sample precision
        QCOMPARE(u16(sof + 5), 691);        // height
        QCOMPARE(u16(sof + 7), 691);        // width
        QCOMPARE(u8(sof + 9), 3);           // Y, Cb, Cr
    }

private:
    int u8(int at) const { return quint8(m_data.at(at)); }
    int u16(int at) const { return u8(at) << 8 | u8(at + 1); }

    QByteArray m_data;
};

QTEST_GUILESS_MAIN(TestThanks)
#include "tst_thanks.moc"
