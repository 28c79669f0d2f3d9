// The grid preview toggle and the thank-you card.

#include "app/Form1.h"
#include "support/FakeModalHost.h"
#include "support/Fixtures.h"

#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestExtras : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tickingWithoutAPictureIsRefusedOnce();
    void tickingShowsAndUntickingHidesTheGrid();
    void untickingHidesTheGridAfterAFailedLoad();
    void gridLinesAreWhiteAndFourPixelsOnTheThirds();
    void thankYouCardFillsThePreviewAndKeepsThePicture();

private:
    void load(const QString& path);
    QImage rendered() const; // the preview as it shows on screen, inside its frame

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<FakeModalHost> m_host;
};

void TestExtras::init()
{
    m_host = std::make_unique<FakeModalHost>();
    m_form = std::make_unique<Form1>();
    m_form->Start();
}

void TestExtras::cleanup()
{
    QVERIFY(m_host->untrapped.isEmpty());
    m_form.reset();
    m_host.reset();
}

void TestExtras::load(const QString& path)
{
    m_host->choices << path;
    m_form->Command1.press();
}

QImage TestExtras::rendered() const
{
    return m_form->p1.widget()->grab(QRect(2, 2, 396, 396)).toImage().convertToFormat(
        QImage::Format_RGB32);
}

static bool gridShown(const Form1& form)
{
    return form.Line1.Visible() && form.Line2.Visible() && form.Line3.Visible() &&
           form.Line4.Visible();
}

static bool gridHidden(const Form1& form)
{
    return !form.Line1.Visible() && !form.Line2.Visible() && !form.Line3.Visible() &&
           !form.Line4.Visible();
}

void TestExtras::tickingWithoutAPictureIsRefusedOnce()
{
    m_form->Command3.press(); // the card shown is no loaded picture
    m_form->Check2.setValue(1);
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, QString("请先载入图片"));
    QCOMPARE(m_host->messages[0].buttons, 64);
    QCOMPARE(m_host->messages[0].title, QString("通知:"));
    QCOMPARE(m_form->Check2.Value(), 0);
    QVERIFY(gridHidden(*m_form));
}

void TestExtras::tickingShowsAndUntickingHidesTheGrid()
{
    const QString path = m_dir.filePath("p.png");
    fixtures::write(fixtures::pattern(60, 60), path);
    load(path);
    m_form->Check2.setValue(1);
    QVERIFY(gridShown(*m_form));
    m_host->choices << ""; // a cancelled dialog keeps the picture, and the toggle working
    m_form->Command1.press();
    m_form->Check2.setValue(0);
    QVERIFY(gridHidden(*m_form));
    m_form->Check2.setValue(1);
    QVERIFY(gridShown(*m_form));
    QVERIFY(m_host->messages.empty());
}

void TestExtras::untickingHidesTheGridAfterAFailedLoad()
{
    const QString good = m_dir.filePath("p.png");
    fixtures::write(fixtures::pattern(60, 60), good);
    const QString bad = m_dir.filePath("bad.jpg");
    fixtures::writeText(bad, "no picture");
    load(good);
    m_form->Check2.setValue(1);
    load(bad);
    QVERIFY(gridShown(*m_form)); // loading leaves the grid alone
    m_form->Check2.setValue(0);
    QVERIFY(gridHidden(*m_form));
    QCOMPARE(m_host->messages.size(), size_t(1)); // only the format error
}

// Over a black picture the white lines stand out: 4 px wide, centred on
// 132 and 264 px, across and down, reaching both edges.
void TestExtras::gridLinesAreWhiteAndFourPixelsOnTheThirds()
{
    QImage black(300, 300, QImage::Format_RGB32);
    black.fill(Qt::black);
    const QString path = m_dir.filePath("black.png");
    fixtures::write(black, path);
    load(path);
    QCOMPARE(rendered().pixelColor(132, 50), QColor(Qt::black));
    m_form->Check2.setValue(1);
    const QImage shown = rendered();
    auto whiteColumns = [&](int y) {
        QList<int> xs;
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixelColor(x, y) == QColor(Qt::white))
                xs << x;
        return xs;
    };
    auto whiteRows = [&](int x) {
        QList<int> ys;
        for (int y = 0; y < shown.height(); ++y)
            if (shown.pixelColor(x, y) == QColor(Qt::white))
                ys << y;
        return ys;
    };
    const QList<int> lines = {130, 131, 132, 133, 262, 263, 264, 265};
    QCOMPARE(whiteColumns(0), lines);
    QCOMPARE(whiteColumns(50), lines);
    QCOMPARE(whiteColumns(395), lines);
    QCOMPARE(whiteRows(0), lines);
    QCOMPARE(whiteRows(200), lines);
    QCOMPARE(whiteRows(395), lines);
    // The lines lie over the preview; its drawing itself is untouched.
    QCOMPARE(m_form->p1.Image().image().pixelColor(132, 50), QColor(Qt::black));
}

void TestExtras::thankYouCardFillsThePreviewAndKeepsThePicture()
{
    const QString path = m_dir.filePath("p.png");
    fixtures::write(fixtures::pattern(90, 90), path);
    load(path);
    const auto marker = m_form->Picture1.Picture().Handle();
    const QImage full = m_form->Picture3.Picture().image();
    const QString folder = m_form->SourceFolder;

    m_form->Command3.press();
    const QImage card = m_form->Picture2.Picture().image().scaled(
        396, 396, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage preview = m_form->p1.Image().image();
    // The whole card is shown: its corners and its bottom rows are there.
    for (const QPoint at : {QPoint(3, 3), QPoint(392, 3), QPoint(3, 392), QPoint(392, 392),
                            QPoint(198, 394)}) {
        const QColor a = preview.pixelColor(at), b = card.pixelColor(at);
        QVERIFY2(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                         std::abs(a.blue() - b.blue()) <
                     30,
                 qPrintable(QString("%1,%2: %3 vs %4").arg(at.x()).arg(at.y()).arg(a.name(), b.name())));
    }
    QCOMPARE(m_form->Picture1.Picture().Handle(), marker);
    QCOMPARE(m_form->Picture3.Picture().image(), full);
    QCOMPARE(m_form->SourceFolder, folder);
}

QTEST_MAIN(TestExtras)
#include "tst_extras.moc"
