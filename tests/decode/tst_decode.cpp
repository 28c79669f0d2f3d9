#include "platform/ImageDecoder.h"

#include <QTemporaryDir>
#include <QtTest>

class DecodeTest : public QObject
{
    Q_OBJECT
private slots:
    void loadsPng();
};

void DecodeTest::loadsPng()
{
    QTemporaryDir dir;
    QImage source(8, 4, QImage::Format_ARGB32);
    source.fill(qRgba(255, 0, 0, 128));
    const QString path = dir.filePath(QStringLiteral("half.jpg"));
    QVERIFY(source.save(path, "PNG"));
    const auto decoded = platform::decodePictureFile(path);
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
    QCOMPARE(decoded.image.pixel(0, 0), qRgb(255, 127, 127));
}

QTEST_GUILESS_MAIN(DecodeTest)
#include "tst_decode.moc"
