// The window through its handlers, with a stand-in answering its dialogs:
// what a person's steps leave behind, and the tiles of every kind of cut,
// each compared with the picture's own pixels.

#include "app/Form1.h"
#include "platform/Background.h"
#include "support/FakeModalHost.h"
#include "support/StarvedMemory.h"
#include "support/TestPictures.h"

#include <QtTest>
#include <QtWidgets>

#include <new>
#include <system_error>

// While set, no thread can be started.
std::atomic<bool> g_noThreads = false;

#ifndef Q_OS_WIN
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <png.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

// A PNG's reading in the decoding process (this test started again) crashes in a row whose
// name says so, and in a row "walled off" first tries what that process may not do, then
// crashes if any of it was allowed.
extern "C" png_structp png_create_read_struct(png_const_charp version, png_voidp data,
                                              png_error_ptr error, png_error_ptr warning)
{
    const QByteArray row = qgetenv("TESSARINE_TEST_ROW");
    char* none[] = {nullptr};
    if (std::strcmp(program_invocation_short_name, "tessarine-decoder") == 0 &&
        (row.contains("crashes") ||
         (row.contains("walled off") &&
          (::socket(AF_INET, SOCK_STREAM, 0) >= 0 || ::open("/proc/self/fd/3", O_WRONLY) >= 0 ||
           ::syscall(SYS_open, "/proc/self/fd/3", O_RDWR) >= 0 ||
           ::execve("/bin/true", none, none) == 0))))
        std::signal(SIGSEGV, SIG_DFL), std::raise(SIGSEGV);
    static const auto real = reinterpret_cast<decltype(&png_create_read_struct)>(
        ::dlsym(RTLD_NEXT, "png_create_read_struct"));
    return real(version, data, error, warning);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) noexcept
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto create = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    return g_noThreads ? EAGAIN : create(thread, attributes, start, argument);
}

#endif

namespace {

// Message boxes as "buttons title prompt".
const QString Done = QStringLiteral(
    "64 据说打赏作者的人都长的很帅: 图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可");
const QString NotLoaded = QStringLiteral("64 通知: 请先载入图片");
const QString BadPicture = QStringLiteral("16 警告： 图片格式错误");

// What the process holds: its peak resident size, and the bytes the
// allocator has handed out.  (Measured on Linux only.)
#ifdef Q_OS_WIN
qint64 peakKilobytes()
{
    return 0;
}
qint64 heldBytes()
{
    return 0;
}
#else
qint64 peakKilobytes()
{
    rusage usage{};
    return getrusage(RUSAGE_SELF, &usage), usage.ru_maxrss;
}

qint64 heldBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}
#endif

} // namespace

class TstWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_folder;
    QImage m_big;     // big.jpg as another program reduces it to the preview's size
    int m_paints = 0; // of the preview while a handler waits for work
    QElapsedTimer m_sincePaint;
    qint64 m_longestGap = 0; // between two paints of the preview, in milliseconds

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint) return false;
        m_paints += platform::waiting();
        m_longestGap = std::max(m_longestGap, m_sincePaint.restart());
        return false;
    }

    std::vector<std::unique_ptr<QFile>> m_held; // files kept open by the row's steps

    // Paths as the system spells them, as the window shows them.
    QString path(const QString& name) const { return QDir::toNativeSeparators(m_folder + name); }

    // Runs a person's steps, separated by spaces: a button pressed by its caption, with Return
    // on it ("return:"), where no large block of memory can be had ("starved:") or where no
    // thread can be started, as under a process or cgroup limit ("threadless:"); "choose:"
    // presses 选择图片 and picks that file in the dialog, or cancels; "drop:" drops files and
    // web addresses on the preview; "quitting:" takes a step in the event loop while the program
    // is told to quit whenever a handler waits, as the end of the desktop session tells it.
    void run(Form1& form, FakeModalHost& host, const QString& steps)
    {
        for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString verb = step.section(QLatin1Char(':'), 0, 0),
                          arg = step.section(QLatin1Char(':'), 1);
            if (verb == "quitting") {
                QTimer quit;
                connect(&quit, &QTimer::timeout, [] {
                    if (platform::waiting()) QCoreApplication::exit();
                });
                quit.start(1);
                QTimer::singleShot(0, [&] { run(form, host, arg); });
                QCoreApplication::exec();
                continue;
            }
            if (verb == "drop") {
                QMimeData data;
                for (const QString& name : arg.split(QLatin1Char(','), Qt::SkipEmptyParts))
                    data.setUrls(
                        data.urls()
                        << (name.contains("://") ? QUrl(name) : QUrl::fromLocalFile(path(name))));
                QDragEnterEvent enter(QPoint(60, 60), Qt::CopyAction, &data, Qt::LeftButton, {});
                QDropEvent drop(QPointF(60, 60), Qt::CopyAction, &data, Qt::LeftButton, {});
                QApplication::sendEvent(form.widget()->findChild<QFrame*>(), &enter);
                QApplication::sendEvent(form.widget()->findChild<QFrame*>(), &drop);
                QApplication::processEvents();
                continue;
            }
            if (verb == "hold") { // as another program holds it open
                m_held.push_back(std::make_unique<QFile>(path(arg)));
                QVERIFY(m_held.back()->open(QIODevice::ReadOnly));
                continue;
            }
            if (verb == "readonly") {
                QVERIFY(QFile::setPermissions(path(arg), QFile::ReadOwner));
                continue;
            }
            if (verb == "choose") host.choices << (arg.isEmpty() ? QString() : path(arg));
            g_failFrom = verb == "starved" ? 256 * 1024 : 0;
            g_noThreads = verb == "threadless";
            const QString caption = verb == "choose" ? "选择图片" : arg.isEmpty() ? verb : arg;
            for (auto* button : form.widget()->findChildren<QAbstractButton*>()) {
                if (button->text() != caption) continue;
                button->setFocus(); // as a click would give it
                verb == "return" ? QTest::keyClick(button, Qt::Key_Return) : button->click();
            }
            g_failFrom = 0;
            g_noThreads = false;
        }
    }

    // What the preview shows ("big": big.jpg, within its noise), by the colour at a point clear
    // of the lines, "+grid" when the grid is drawn over it: the vertical lines stand on the
    // thirds, 132 and 264 px into the area.
    QString preview(Form1& form)
    {
        const QImage shot = form.widget()->findChild<QFrame*>()->grab().toImage();
        if (testpictures::difference(shot.copy(2, 2, 396, 396), m_big) <= 4) return "big";
        const QMap<QRgb, QString> names{{qRgb(255, 0, 0), "red"},
                                        {qRgb(0, 0, 255), "blue"},
                                        {QApplication::palette().window().color().rgb(), "blank"}};
        const bool lines = shot.pixel(2 + 132, 60) == qRgb(255, 255, 255) &&
                           shot.pixel(2 + 264, 60) == qRgb(255, 255, 255);
        return names.value(shot.pixel(60, 60), QStringLiteral("card")) + (lines ? "+grid" : "");
    }

    // A folder as the rows name it: "." the test folder, "~" home, "-" none.
    QString named(QString folder) const
    {
        folder = QDir::fromNativeSeparators(folder);
        const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        return folder.isEmpty()                                   ? "-"
               : folder == QDir::homePath() || folder == pictures ? "~"
               : folder == m_folder                               ? "."
                                                                  : folder.remove(m_folder);
    }

private slots:
    void initTestCase()
    {
        // Large blocks always come straight from the system and go back to it,
        // so that what the program holds is what it uses.
#ifndef Q_OS_WIN
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.path() + QLatin1Char('/');
        for (const char* folder :
             {"home", "sub", "held", "big", "blocked/3.jpg"}) // the last where a tile must go
            QVERIFY(QDir(m_folder).mkpath(folder));
        qputenv("HOME", QFile::encodeName(path("home"))); // no Pictures folder in it
        QVERIFY(testpictures::noise(4501, 3000).save(path("big/big.bmp"))); // a 6 MB canvas
        QVERIFY(
            testpictures::probe({90, 60}, qRgb(255, 0, 0), qRgb(255, 0, 0)).save(path("red.png")));
        for (const char* copy : {"blocked/red.png", "sub/red.png", "5.jpg"}) // last: a tile's name
            QVERIFY(QFile::copy(path("red.png"), path(copy)));
        QVERIFY(testpictures::probe({30, 30}, qRgb(0, 0, 255), qRgb(0, 0, 255))
                    .save(path("sub/blue.bmp")));
        QVERIFY(testpictures::written(path("text.jpg"), "not a picture\n"));
        if (!testpictures::kMakesPictures) return;
        // A large picture in smooth colours, whose reduction any resampler agrees on, stored
        // transposed and tagged to be shown upright, as Qt's reader shows it.
        const QImage smooth = QImage::fromData(
            testpictures::made("convert -size 1200x1000 xc: -sparse-color bilinear '0,0 red 1199,0 "
                               "lime 0,999 blue 1199,999 white' ppm:out",
                               {}));
        const QByteArray turned = testpictures::turnedJpeg(smooth, "-transpose -orient LeftTop");
        QVERIFY(testpictures::written(path("big.jpg"), turned));
        const QImage big = testpictures::shownByQt(path("big.jpg"));
        QCOMPARE(big.size(), QSize(1200, 1000));
        m_big = testpictures::resampled(big, QRectF(big.rect()), {396, 396});
    }

    // A large photo stored turned (150 megapixels, EXIF 6): the window paints at least every
    // 100 ms while it loads and while it is cut, and a click meanwhile starts no second
    // handler; it is held once, however many boxes hold it; the canvas of its inexact cut
    // (5000 x 3333 pixels, 50 MB) goes with the cut; a second photo lets the first go before
    // it is decoded.
    void largePhoto()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in quarantine");
#elif defined(Q_OS_WIN)
        QSKIP("memory is measured on Linux");
#endif
        QImage stored(10000, 15001, QImage::Format_RGB32);
        stored.fill(Qt::darkCyan);
        // Orientation 6 in the one entry of an EXIF block, right after the start of the JPEG.
        static const char exif[] =
            "\xff\xe1\x00\x22"
            "Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0";
        QVERIFY(testpictures::written(
            path("held/a.jpg"),
            testpictures::encode(stored, "jpeg").insert(2, QByteArray(exif, sizeof exif - 1))));
        stored = QImage();
        QVERIFY(QFile::copy(path("held/a.jpg"), path("held/b.jpg")));
        FakeModalHost host;
        Form1 form;
        form.Start();
        // Shown and painted once, fonts and all, as the window is long before a person drops.
        QVERIFY(QTest::qWaitForWindowExposed(form.widget()));
        form.widget()->repaint();
        form.widget()->findChild<QFrame*>()->installEventFilter(this);
        QTimer poke;
        connect(&poke, &QTimer::timeout, [&] {
            form.widget()->findChild<QFrame*>()->update();
            if (platform::waiting()) run(form, host, QStringLiteral("return:生成图片"));
        });
        const qint64 before = heldBytes();
        poke.start(1);
        m_sincePaint.start();
        run(form, host, QStringLiteral("drop:held/a.jpg"));
        QCOMPARE_GT(m_paints, 0);
        QCOMPARE(form.Picture3.ScaleWidth(), 15001 * 15);
        QCOMPARE_LE(heldBytes() - before, 10000 * 15001 * 4 + 15'000'000);
        const qint64 loaded = heldBytes();
        m_paints = 0;
        run(form, host, QStringLiteral("生成图片"));
        poke.stop();
        QCOMPARE_GT(m_paints, 0);
        // Qt's offscreen platform holds its update requests back while a handler waits; a
        // window on an X server is repainted as asked (tests/x11.cmake runs this there).
        if (QGuiApplication::platformName() == "xcb")
            QCOMPARE_LE(std::max(m_longestGap, m_sincePaint.elapsed()), 100);
        QCOMPARE_LE(heldBytes() - loaded, 2'000'000);
        const qint64 first = peakKilobytes();
        run(form, host, QStringLiteral("drop:held/b.jpg"));
        QCOMPARE(host.boxes, QStringList{Done});
        QCOMPARE_LE(peakKilobytes() - first, 15 * 1024);
    }

    // What a person's steps leave: what the preview shows, the loaded file ("-" none), the
    // folder it came from and where the last open dialog started (the last picture's folder,
    // else home, which has no Pictures folder here), and the message boxes shown.
    void scenarios_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("messages");
        // A row a line.
        // clang-format off
        QTest::newRow("cut, card, Return on 效果预览, nothing loaded") << "生成图片 打赏作者 return:效果预览" << "card - - -" << QStringList{NotLoaded, NotLoaded};
        QTest::newRow("grid on and off, cancel keeps") << "choose:red.png 效果预览 效果预览 choose:" << "red red.png . ." << QStringList();
        QTest::newRow("grid off after a failed load, dialog where the last picture was") << "choose:sub/blue.bmp 效果预览 choose:text.jpg 效果预览 choose:" << "blank - sub/ sub/" << QStringList{BadPicture};
        QTest::newRow("web address dropped first, chosen file missing") << "drop:https://example.org/a.png,red.png choose:gone.png" << "blank - - ~" << QStringList{BadPicture, BadPicture};
        QTest::newRow("three dropped, Return on 生成图片") << "drop:sub/blue.bmp,red.png,text.jpg return:生成图片" << "blue blue.bmp sub/ -" << QStringList{Done};
        QTest::newRow("card keeps the picture, a drop without files lets it go") << "choose:red.png 打赏作者 效果预览 drop:" << "blank+grid - . ~" << QStringList{BadPicture};
        QTest::newRow("larger than the preview, stored turned") << "drop:big.jpg" << "big big.jpg . -" << QStringList();
        QTest::newRow("picture named as a tile, tile taken by a folder") << "choose:5.jpg 生成图片 choose:blocked/red.png 生成图片" << "red red.png blocked/ ." << QStringList{QStringLiteral("16 警告： 原图片与切出的图片同名，请先把原图片改名或移到别的文件夹"), "16 警告： 图片保存失败：" + path("blocked/3.jpg") + "\n这是一个文件夹"};
        QTest::newRow("told to quit while a load waits, the decoding process walled off") << "quitting:drop:red.png" << "red red.png . -" << QStringList();
        QTest::newRow("a decoder that crashes") << "choose:sub/blue.bmp drop:red.png 生成图片" << "blank - sub/ ~" << QStringList{BadPicture, NotLoaded};
        QTest::newRow("no thread to be had") << "choose:red.png threadless:生成图片 生成图片" << "red red.png . ~" << QStringList{"16 警告： 图片保存失败：" + path("") + "\n内存不足", Done};
        QTest::newRow("memory runs out for the canvas") << "choose:big/big.bmp starved:生成图片 生成图片" << "card big.bmp big/ ~" << QStringList{"16 警告： 图片保存失败：" + path("big/") + "\n内存不足", Done};
#ifdef Q_OS_WIN
        // Tiles Windows may not replace: nothing is written, and the old set stays.
        QTest::newRow("a tile held open by another program") << "choose:sub/blue.bmp 生成图片 hold:sub/3.jpg choose:sub/red.png 生成图片" << "red red.png sub/ sub/" << QStringList{Done, "16 警告： 图片保存失败：" + path("sub/3.jpg") + "\n文件正被另一个程序使用"};
        QTest::newRow("a read-only tile") << "choose:sub/blue.bmp 生成图片 readonly:sub/9.jpg choose:sub/red.png 生成图片" << "red red.png sub/ sub/" << QStringList{Done, "16 警告： 图片保存失败：" + path("sub/9.jpg") + "\n没有权限，或文件是只读的"};
#endif
        // clang-format on
    }
    void scenarios()
    {
        QFETCH(QString, steps);
        QFETCH(QString, state);
        QFETCH(QStringList, messages);
        if (steps.contains("starved") && !kCanStarve) QSKIP("memory cannot be starved here");
        if (steps.contains("big.jpg") && !testpictures::kMakesPictures) QSKIP("no ImageMagick");
#ifdef Q_OS_WIN
        if (steps.contains("threadless") || QByteArray(QTest::currentDataTag()).contains("crash"))
            QSKIP("the system's calls are interposed on Linux only");
#endif
        m_held.clear();
        qputenv("TESSARINE_TEST_ROW", QTest::currentDataTag());
        FakeModalHost host;
        Form1 form;
        form.Start();
        run(form, host, steps);
        const QString shown = preview(form);
        QString loaded = form.widget()->findChild<QFrame*>()->accessibleDescription();
        QCOMPARE(form.Picture1.Picture().Handle() != 0, loaded.startsWith("已载入图片："));
        QCOMPARE(form.widget()->findChild<QCheckBox*>()->isChecked(), shown.endsWith("+grid"));
        loaded = loaded == "未载入图片" ? "-" : loaded.remove("已载入图片：");
        const QString dialog = named(host.dialogFolders.value(host.dialogFolders.size() - 1));
        QCOMPARE(QStringList({shown, loaded, named(form.SourceFolder), dialog}).join(' '), state);
        QCOMPARE(host.boxes, messages);
        QVERIFY(host.untrapped.isEmpty());
        // A cut refused there left the tiles of the picture cut before.
        if (steps.contains("hold:") || steps.contains("readonly:"))
            QCOMPARE(QImage(path("sub/1.jpg")).pixel(0, 0), qRgb(0, 0, 255));
    }

    void cuts_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("turn"); // how a JPEG stores it turned; none: a bitmap
        // clang-format off
        QTest::newRow("exact thirds") << QSize(900, 600) << QString();
        QTest::newRow("inexact, tiles rounded up and down") << QSize(3001, 2000) << QString();
        QTest::newRow("wider than a widget") << QSize(16777218, 3) << QString();
        QTest::newRow("taller than a widget") << QSize(3, 16777218) << QString();
        QTest::newRow("exact thirds, stored turned (EXIF 8)") << QSize(900, 600) << "-rotate 90 -orient LeftBottom";
        QTest::newRow("inexact, stored transposed (EXIF 5)") << QSize(301, 200) << "-transpose -orient LeftTop";
        // clang-format on
    }
    void cuts()
    {
        QFETCH(QSize, size);
        QFETCH(QString, turn);
        // A bitmap, or a JPEG stored turned; the pixels expected are Qt's reading of it.
        const QImage noise = testpictures::noise(size.width(), size.height());
        QVERIFY(testpictures::written(path("picture"),
                                      turn.isEmpty() ? testpictures::encode(noise, "bmp")
                                                     : testpictures::turnedJpeg(noise, turn)));
        const QImage full = testpictures::shownByQt(path("picture"));
        if (!testpictures::kMakesPictures &&
            (!turn.isEmpty() || size.width() % 3 || size.height() % 3))
            QSKIP("no ImageMagick");
#ifdef Q_OS_WIN
        if (size.height() > size.width() * 1000)
            QSKIP("under Wine, Qt's bitmap reader needs more than three seconds for so many rows");
#endif
        FakeModalHost host;
        Form1 form;
        run(form, host, "choose:picture 生成图片");
        QCOMPARE(host.boxes + host.details, QStringList({Done, path("")}));
        // The nine tiles against the picture's own pixels: exact thirds the same pixels, and
        // byte for byte as Qt writes a bitmap of them where the picture has no resolution of its
        // own to pass on (a JPEG's Qt reads, we do not); other sizes near what another program's
        // smooth resampling of each third gives (bilinear both, with Qt's 8-bit weights).
        const QSizeF third(full.width() / 3.0, full.height() / 3.0);
        const bool exact = full.width() % 3 == 0 && full.height() % 3 == 0;
        for (int n = 1; n <= 9; ++n) {
            const QRectF source(QPointF((n - 1) % 3 * third.width(), (n - 1) / 3 * third.height()),
                                third);
            QFile tile(m_folder + QString::number(n) + ".jpg");
            const QByteArray bytes = tile.open(QIODevice::ReadOnly) ? tile.readAll() : QByteArray();
            const QImage expected = exact ? full.copy(source.toRect())
                                          : testpictures::resampled(full, source, third.toSize());
            QCOMPARE_LE(testpictures::difference(QImage::fromData(bytes), expected), exact ? 0 : 8);
            if (exact && turn.isEmpty())
                QVERIFY2(bytes == testpictures::encode(expected, "bmp"),
                         qPrintable(tile.fileName()));
        }
    }

    // An exception that no handler traps is reported by the runtime, never
    // thrown into Qt's event loop; out of memory is error 7.
    void untrappedErrorsAreReported()
    {
        FakeModalHost host;
        platform::dispatchEvent([] { throw std::bad_alloc(); });
        platform::dispatchEvent([] {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        });
        QCOMPARE(QStringList({host.untrapped.value(0).left(2), host.untrapped.value(1).left(3)}),
                 QStringList({"7 ", "51 "}));
    }
};

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
