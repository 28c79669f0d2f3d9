// The window through its handlers, with a stand-in answering its dialogs:
// what a person's steps leave behind, and the tiles of every kind of cut,
// each compared with the picture's own pixels.

#include "app/Form1.h"
#include "platform/Background.h"
#include "platform/ImageDecoder.h"
#include "support/FakeModalHost.h"
#include "support/TestPictures.h"

#include <QtTest>
#include <QtWidgets>

#include <new>
#include <system_error>

#include <malloc.h>
#include <sys/resource.h>

namespace {

const QString Done = QStringLiteral("图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可");
const QString NotLoaded = QStringLiteral("请先载入图片");
const QString BadPicture = QStringLiteral("图片格式错误");

qint64 peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Allocations of at least this many bytes fail while it is not 0, as
// they do when memory runs out.
std::atomic<std::size_t> g_failFrom{0};

} // namespace

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size)
{
    const std::size_t from = g_failFrom;
    return from != 0 && size >= from ? nullptr : __libc_malloc(size);
}
#endif

namespace {

qint64 heldBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// Counts the paints a widget gets while a handler waits for work.
struct PaintsWhileWaiting : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint && platform::waiting();
        return false;
    }
};

qint64 residentKilobytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() * 4 : 0;
}

} // namespace

class TstWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;

    QString path(const QString& name) const { return m_folder + name; }

    // Runs a person's steps, separated by spaces, on a fresh window.
    void run(Form1& form, FakeModalHost& host, const QString& steps)
    {
        for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString verb = step.section(QLatin1Char(':'), 0, 0);
            const QString arg = step.section(QLatin1Char(':'), 1);
            if (verb == "choose") { // "choose:" cancels
                host.choices << (arg.isEmpty() ? QString() : path(arg));
                form.Command1_Click();
            } else if (verb == "drop") {
                QStringList files;
                for (const QString& name : arg.split(QLatin1Char(','), Qt::SkipEmptyParts))
                    files << path(name);
                platform::DataObject data(files);
                form.p1_OLEDragDrop(data);
            } else if (verb == "tick" || verb == "untick") {
                form.widget()->findChild<QCheckBox*>()->setChecked(verb == "tick");
            } else if (verb == "cut") {
                form.Command2_Click();
            } else if (verb == "starved-cut") { // a cut where no large block can be had
                g_failFrom = 256 * 1024;
                form.Command2_Click();
                g_failFrom = 0;
            } else if (verb == "card") {
                form.Command3_Click();
            } else if (verb == "return") { // Return on the focused control
                QWidget* control = nullptr;
                for (auto* button : form.widget()->findChildren<QAbstractButton*>())
                    control = button->text() == arg ? button : control;
                control->setFocus();
                QTest::keyClick(control, Qt::Key_Return);
            }
        }
    }

    // What the preview shows, by the colour at a point clear of the lines,
    // and whether the grid line is drawn over it.
    static QString preview(Form1& form, bool* linesShown)
    {
        const QImage shot = form.widget()->findChild<QFrame*>()->grab().toImage();
        // The vertical lines stand on the thirds, 132 and 264 px into the area.
        *linesShown = shot.pixel(2 + 132, 60) == qRgb(255, 255, 255) &&
                      shot.pixel(2 + 264, 60) == qRgb(255, 255, 255);
        const QMap<QRgb, QString> names{{qRgb(255, 0, 0), "red"},
                                        {qRgb(0, 0, 255), "blue"},
                                        {QApplication::palette().window().color().rgb(), "blank"}};
        return names.value(shot.pixel(60, 60), QStringLiteral("card"));
    }

    // The nine tiles against the picture's own pixels, byte for byte as
    // Qt writes a bitmap: exact thirds are its rows as they are, other sizes
    // one smooth drawing of each third.
    void compareTiles(const QString& picture)
    {
        const QImage full = platform::decodePictureFile(picture).image;
        const QSizeF third(full.width() / 3.0, full.height() / 3.0);
        const bool exact = full.width() % 3 == 0 && full.height() % 3 == 0;
        for (int n = 1; n <= 9; ++n) {
            const QRectF source(QPointF((n - 1) % 3 * third.width(), (n - 1) / 3 * third.height()),
                                third);
            QImage expected = full.copy(source.toRect());
            if (!exact) {
                expected = QImage(third.toSize().expandedTo({1, 1}), QImage::Format_RGB32);
                QPainter painter(&expected);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawImage(QRectF(expected.rect()), full, source);
            }
            QFile tile(m_folder + QString::number(n) + ".jpg");
            QVERIFY(tile.open(QIODevice::ReadOnly));
            QVERIFY2(tile.readAll() == testpictures::encode(expected, "bmp"), qPrintable(tile.fileName()));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.path() + QLatin1Char('/');
        QDir(m_folder).mkpath("sub");
        QDir(m_folder).mkpath("blocked/3.jpg"); // a folder where a tile must go
        QDir(m_folder).mkpath("big");
        QVERIFY(testpictures::noise(4501, 3000).save(path("big/big.bmp"))); // a 6 MB canvas
        QVERIFY(testpictures::probe({90, 60}, qRgb(255, 0, 0), qRgb(255, 0, 0)).save(path("red.png")));
        QVERIFY(QFile::copy(path("red.png"), path("blocked/red.png")));
        QVERIFY(testpictures::probe({30, 30}, qRgb(0, 0, 255), qRgb(0, 0, 255)).save(path("sub/blue.bmp")));
        QVERIFY(testpictures::probe({30, 30}, qRgb(255, 0, 0), qRgb(255, 0, 0)).save(path("5.jpg"), "PNG"));
        QFile text(path("text.jpg"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture\n") > 0);
    }

    // A large photo: the window paints while it loads and a click meanwhile
    // starts no second handler; it is held once, however many boxes hold it;
    // the canvas of its inexact cut (2000 x 1333 pixels, 10 MB) goes with the
    // cut; a second photo lets the first go before it is decoded.
    void largePhoto()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in quarantine");
#endif
        QVERIFY(QDir(m_folder).mkpath("held"));
        QVERIFY(testpictures::noise(6001, 4000).save(path("held/a.jpg"), "JPEG", 90));
        QVERIFY(QFile::copy(path("held/a.jpg"), path("held/b.jpg")));
        FakeModalHost host;
        Form1 form;
        form.Start();
        PaintsWhileWaiting counter;
        form.widget()->findChild<QFrame*>()->installEventFilter(&counter);
        QTimer poke;
        connect(&poke, &QTimer::timeout, [&] {
            form.widget()->findChild<QFrame*>()->update();
            for (auto* button : form.widget()->findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("生成图片")) button->click();
        });
        const qint64 before = residentKilobytes();
        poke.start(1);
        run(form, host, QStringLiteral("drop:held/a.jpg"));
        poke.stop();
        QCOMPARE_GT(counter.paints, 0);
        QCOMPARE_LE(residentKilobytes() - before, (6001 * 4000 * 4 + 15'000'000) / 1024);
        const qint64 loaded = heldBytes();
        run(form, host, QStringLiteral("cut"));
        QCOMPARE_LE(heldBytes() - loaded, 2'000'000);
        const qint64 first = peakKilobytes();
        run(form, host, QStringLiteral("drop:held/b.jpg"));
        QCOMPARE(host.prompts, QStringList{Done});
        QCOMPARE_LE(peakKilobytes() - first, 15 * 1024);
    }

    void scenarios_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");   // what the preview shows
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("lines");
        QTest::addColumn<QString>("folder");  // SourceFolder below the test folder
        QTest::addColumn<QStringList>("messages");
        // Where the last open dialog started: the last picture's folder, else
        // home (this test's home has no Pictures folder); "-" for none.
        QTest::addColumn<QString>("dialog");
        const QStringList none;
        QTest::newRow("start") << "" << "blank" << false << false << "-" << none << "-";
        QTest::newRow("tick first") << "tick" << "blank" << false << false << "-" << QStringList{NotLoaded} << "-";
        QTest::newRow("cut first") << "cut" << "blank" << false << false << "-" << QStringList{NotLoaded} << "-";
        QTest::newRow("choose, tick") << "choose:red.png tick" << "red" << true << true << "" << none << "~";
        QTest::newRow("tick, untick") << "choose:red.png tick untick" << "red" << true << false << "" << none << "~";
        QTest::newRow("cancel keeps") << "choose:red.png choose:" << "red" << true << false << "" << none << "";
        QTest::newRow("dialog where the last picture was") << "choose:sub/blue.bmp choose:text.jpg choose:" << "blank" << false << false << "sub/" << QStringList{BadPicture} << "sub/";
        QTest::newRow("text file") << "choose:red.png choose:text.jpg" << "blank" << false << false << "" << QStringList{BadPicture} << "";
        QTest::newRow("untick after a failed load") << "choose:red.png tick choose:text.jpg untick" << "blank" << false << false << "" << QStringList{BadPicture} << "";
        QTest::newRow("chosen file missing") << "choose:gone.png" << "blank" << false << false << "-" << QStringList{BadPicture} << "~";
        QTest::newRow("three dropped") << "drop:sub/blue.bmp,red.png,text.jpg" << "blue" << true << false << "sub/" << none << "-";
        QTest::newRow("drop without files") << "drop:" << "blank" << false << false << "-" << QStringList{BadPicture} << "-";
        QTest::newRow("card keeps the picture") << "choose:red.png card tick" << "card" << true << true << "" << none << "~";
        QTest::newRow("card alone") << "card tick" << "card" << false << false << "-" << QStringList{NotLoaded} << "-";
        const QString failed = QStringLiteral("图片保存失败：") + path("blocked/3.jpg") + "\n这是一个文件夹";
        QTest::newRow("tile taken by a folder") << "choose:blocked/red.png cut" << "red" << true << false << "blocked/" << QStringList{failed} << "~";
        const QString starved = QStringLiteral("图片保存失败：") + path("big/") + "\n内存不足";
        QTest::newRow("memory runs out for the canvas") << "choose:big/big.bmp starved-cut cut" << "card" << true << false << "big/" << QStringList{starved, Done} << "~";
        QTest::newRow("picture named as a tile") << "choose:5.jpg cut" << "red" << true << false << "" << QStringList{QStringLiteral("原图片与切出的图片同名，请先把原图片改名或移到别的文件夹")} << "~";
        QTest::newRow("Return on 生成图片") << "drop:sub/blue.bmp return:生成图片" << "blue" << true << false << "sub/" << QStringList{Done} << "-";
        QTest::newRow("Return on 效果预览") << "return:效果预览" << "blank" << false << false << "-" << QStringList{NotLoaded} << "-";
    }
    void scenarios()
    {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        QFETCH(bool, loaded);
        QFETCH(bool, lines);
        QFETCH(QString, folder);
        QFETCH(QStringList, messages);
        QFETCH(QString, dialog);
#if defined(__SANITIZE_ADDRESS__)
        if (steps.contains("starved")) QSKIP("AddressSanitizer has an allocator of its own");
#endif
        FakeModalHost host;
        Form1 form;
        form.Start();
        run(form, host, steps);
        bool linesShown = false;
        QCOMPARE(preview(form, &linesShown), shown);
        QCOMPARE(linesShown, lines);
        QCOMPARE(form.Picture1.Picture().Handle() != 0, loaded);
        QCOMPARE(form.SourceFolder, folder == "-" ? QString() : m_folder + folder);
        QCOMPARE(host.prompts, messages);
        QCOMPARE(host.dialogFolders.value(host.dialogFolders.size() - 1, "-"),
                 dialog == "~" ? QDir::homePath() : dialog == "-" ? dialog : m_folder + dialog);
        QVERIFY(host.untrapped.isEmpty());
    }

    void cuts_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::newRow("exact thirds") << testpictures::noise(900, 600);
        QTest::newRow("inexact") << testpictures::noise(1000, 700);
        QTest::newRow("1 x 1") << testpictures::noise(1, 1);
        QTest::newRow("2 x 5") << testpictures::noise(2, 5);
        QTest::newRow("large inexact") << testpictures::noise(3001, 2000);
        QTest::newRow("wider than a widget") << testpictures::noise(16777218, 3);
        QTest::newRow("taller than a widget") << testpictures::noise(3, 16777218);
    }
    void cuts()
    {
        QFETCH(QImage, picture);
        const QString file = path("picture.bmp");
        QVERIFY(picture.save(file));
        picture = QImage();
        FakeModalHost host;
        Form1 form;
        host.choices << file;
        form.Command1_Click();
        form.Command2_Click();
        QCOMPARE(host.prompts, QStringList{Done});
        QCOMPARE(host.details, QStringList{m_folder});
        compareTiles(file);
    }

    // An exception that no handler traps is reported by the runtime, never
    // thrown into Qt's event loop; out of memory is error 7.
    void untrappedErrorsAreReported()
    {
        FakeModalHost host;
        platform::dispatchEvent([] { throw std::bad_alloc(); });
        platform::dispatchEvent([] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); });
        QCOMPARE(host.untrapped.size(), 2);
        QVERIFY(host.untrapped[0].startsWith("7 "));
        QVERIFY(host.untrapped[1].startsWith("51 "));
    }
};

int main(int argc, char** argv)
{
    // Large blocks always come straight from the system and go back to it,
    // so that what the program holds is what it uses.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8()); // no Pictures folder in it
    QApplication app(argc, argv);
    TstWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_window.moc"
