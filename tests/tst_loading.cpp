// Bringing a picture in: through the open dialog and by dropping files on
// the preview.

#include "app/Form1.h"
#include "support/FakeModalHost.h"
#include "support/Fixtures.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class TestLoading : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void choosingAPictureFillsPreviewAndCopy();
    void previewShowsTheWholePictureStretched();
    void cancelChangesNothing();
    void whatIsNoPictureIsRefused_data();
    void whatIsNoPictureIsRefused();
    void dropLoadsTheFirstOfSeveralFiles();
    void dropWithoutFilesIsRefused();
    void theFullSizePictureIsHeldOnce();

private:
    void drop(const QList<QUrl>& urls, const QString& text = QString());

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<FakeModalHost> m_host;
};

void TestLoading::init()
{
    m_host = std::make_unique<FakeModalHost>();
    m_form = std::make_unique<Form1>();
    m_form->Start();
}

void TestLoading::cleanup()
{
    QVERIFY(m_host->untrapped.isEmpty());
    m_form.reset();
    m_host.reset();
}

void TestLoading::drop(const QList<QUrl>& urls, const QString& text)
{
    QMimeData data;
    if (!urls.isEmpty())
        data.setUrls(urls);
    if (!text.isEmpty())
        data.setText(text);
    QWidget* target = m_form->p1.widget();
    const QPoint at(200, 200);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropEvent);
    QVERIFY(dropEvent.isAccepted());
    QCoreApplication::processEvents(); // the handler runs once the drop is over
}

void TestLoading::choosingAPictureFillsPreviewAndCopy()
{
    const QString path = m_dir.filePath("a b/照片.png");
    QVERIFY(QDir(m_dir.path()).mkpath("a b"));
    const QImage picture = fixtures::pattern(900, 600);
    fixtures::write(picture, path);
    m_host->choices << path;
    m_form->Command1.press();

    QCOMPARE(m_host->dialogsShown, 1);
    QVERIFY(m_host->messages.empty());
    QCOMPARE(m_form->SourceFolder, m_dir.path() + "/a b/");
    QCOMPARE(m_form->Picture3.Picture().image(), picture);
    QCOMPARE(m_form->Picture3.ScaleWidth(), 13500.0f);
    QVERIFY(m_form->Picture1.Picture().Handle() != 0);
    // The preview is drawn from the picture, not left blank.
    const QImage preview = m_form->p1.Image().image();
    const QColor expected = picture.pixelColor(450, 300);
    const QColor shown = preview.pixelColor(198, 198);
    QVERIFY2(std::abs(shown.green() - expected.green()) < 90, qPrintable(shown.name()));
    QVERIFY(preview.pixelColor(0, 0) != preview.pixelColor(395, 395));
}

// Four quadrants of plain colours: the preview's corners show all four, so
// nothing of the picture is cut off at the bottom or right.
void TestLoading::previewShowsTheWholePictureStretched()
{
    QImage picture(300, 90, QImage::Format_RGB32);
    picture.fill(Qt::red);
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 300; ++x)
            picture.setPixelColor(x, y,
                                  x < 150 ? (y < 45 ? Qt::red : Qt::green)
                                          : (y < 45 ? Qt::blue : Qt::yellow));
    const QString path = m_dir.filePath("quadrants.png");
    fixtures::write(picture, path);
    m_host->choices << path;
    m_form->Command1.press();
    const QImage preview = m_form->p1.Image().image();
    QCOMPARE(preview.pixelColor(2, 2), QColor(Qt::red));
    QCOMPARE(preview.pixelColor(393, 2), QColor(Qt::blue));
    QCOMPARE(preview.pixelColor(2, 393), QColor(Qt::green));
    QCOMPARE(preview.pixelColor(393, 393), QColor(Qt::yellow));
}

void TestLoading::cancelChangesNothing()
{
    const QString path = m_dir.filePath("keep.png");
    fixtures::write(fixtures::pattern(30, 30), path);
    m_host->choices << path << "";
    m_form->Command1.press();
    const QImage preview = m_form->p1.Image().image();
    const auto marker = m_form->Picture1.Picture().Handle();
    const QImage full = m_form->Picture3.Picture().image();

    m_form->Command1.press(); // cancelled
    QCOMPARE(m_host->dialogsShown, 2);
    QVERIFY(m_host->messages.empty());
    QCOMPARE(m_form->p1.Image().image(), preview);
    QCOMPARE(m_form->Picture3.Picture().image(), full);
    QCOMPARE(m_form->Picture1.Picture().Handle(), marker);
    QCOMPARE(m_form->SourceFolder, m_dir.path() + "/");
}

void TestLoading::whatIsNoPictureIsRefused_data()
{
    QTest::addColumn<bool>("byDrop");
    QTest::newRow("chosen") << false;
    QTest::newRow("dropped") << true;
}

// After a good picture, a text file named .jpg: the fixed message, no picture
// counts as loaded, and the folder of the good one is kept.
void TestLoading::whatIsNoPictureIsRefused()
{
    QFETCH(bool, byDrop);
    const QString good = m_dir.filePath("good.png");
    fixtures::write(fixtures::pattern(30, 30), good);
    QVERIFY(QDir(m_dir.path()).mkpath("other"));
    const QString bad = m_dir.filePath("other/notes.jpg");
    fixtures::writeText(bad, "not a picture");
    m_host->choices << good;
    m_form->Command1.press();

    if (byDrop) {
        drop({QUrl::fromLocalFile(bad)});
    } else {
        m_host->choices << bad;
        m_form->Command1.press();
    }
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, QString("图片格式错误"));
    QCOMPARE(m_host->messages[0].buttons, 16);
    QCOMPARE(m_host->messages[0].title, QString("警告："));
    QCOMPARE(m_form->Picture1.Picture().Handle(), 0);
    QCOMPARE(m_form->Picture3.Picture().Handle(), 0);
    QCOMPARE(m_form->SourceFolder, m_dir.path() + "/");

    // With nothing loaded, cutting is refused.
    m_form->Command2.press();
    QCOMPARE(m_host->messages.back().prompt, QString("请先载入图片"));
}

void TestLoading::dropLoadsTheFirstOfSeveralFiles()
{
    QVERIFY(QDir(m_dir.path()).mkpath("one"));
    QVERIFY(QDir(m_dir.path()).mkpath("two"));
    const QString first = m_dir.filePath("one/first.png");
    const QString second = m_dir.filePath("two/second.png");
    fixtures::write(fixtures::pattern(12, 9), first);
    fixtures::write(fixtures::pattern(30, 30), second);
    drop({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second),
          QUrl::fromLocalFile(m_dir.filePath("missing.png"))});
    QVERIFY(m_host->messages.empty());
    QCOMPARE(m_form->Picture3.Picture().image().size(), QSize(12, 9));
    QCOMPARE(m_form->SourceFolder, m_dir.path() + "/one/");
    QCOMPARE(m_form->SourcePath, first);
}

void TestLoading::dropWithoutFilesIsRefused()
{
    drop({}, "some text");
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, QString("图片格式错误"));
    QCOMPARE(m_form->Picture1.Picture().Handle(), 0);
}

// A large picture must exist once in memory: the copy that is cut, its
// drawing and the loaded marker read the same pixels, and cutting leaves it so.
void TestLoading::theFullSizePictureIsHeldOnce()
{
    const QString path = m_dir.filePath("large.png");
    fixtures::write(fixtures::pattern(1200, 900), path);
    m_host->choices << path;
    m_form->Command1.press();
    const uchar* pixels = m_form->Picture3.Picture().image().constBits();
    QVERIFY(pixels != nullptr);
    QCOMPARE(m_form->Picture3.Image().image().constBits(), pixels);
    QCOMPARE(m_form->Picture1.Picture().image().constBits(), pixels);

    m_form->Command2.press();
    QCOMPARE(m_host->messages.size(), size_t(1)); // the tiles were written
    QCOMPARE(m_form->Picture3.Picture().image().constBits(), pixels);
    QCOMPARE(m_form->Picture3.Image().image().constBits(), pixels);
    QCOMPARE(m_form->Picture1.Picture().image().constBits(), pixels);
}

QTEST_MAIN(TestLoading)
#include "tst_loading.moc"
