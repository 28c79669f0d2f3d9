// Hostile and odd files made on the spot: empty, cut short, claiming huge
// sizes, not files at all, gone by the time they are read, or reached
// through unusual paths.  Each is loaded by the dialog and by a drop.  The
// window must answer quickly with the refusal or a whole picture, and never
// wait on something that does not come.

#include "app/Form1.h"
#include "support/FakeModalHost.h"
#include "support/Fixtures.h"
#include "tools/fixtures/SamplePictures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Refusal = QStringLiteral("图片格式错误");
// What a person tolerates before the window seems stuck.
constexpr qint64 PromptMs = 1000;

// Opens the write end of a FIFO once somebody waits on the read end (or
// after `after`), so a reader that blocks on it is let go instead of hanging
// the test.  Joining is always possible: it only ever tries non-blocking opens.
class FifoReleaser
{
public:
    FifoReleaser(const QString& path, std::chrono::milliseconds after)
        : m_thread([this, name = QFile::encodeName(path), after] {
              const auto until = std::chrono::steady_clock::now() + after;
              while (!m_stop) {
                  if (std::chrono::steady_clock::now() >= until) {
                      const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                      if (fd >= 0) {
                          ::close(fd);
                          m_released = true;
                      }
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          })
    {
    }
    ~FifoReleaser()
    {
        m_stop = true;
        m_thread.join();
    }
    [[nodiscard]] bool released() const { return m_released; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_released{false};
    std::thread m_thread;
};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusedPromptly_data();
    void refusedPromptly();
    void cutShortGivesRefusalOrWholePicture_data();
    void cutShortGivesRefusalOrWholePicture();
    void oddPathsLoad_data();
    void oddPathsLoad();
    void fileGoneAfterChoosing();

private:
    void load(const QString& path, bool byDrop);
    void addByDrop();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<FakeModalHost> m_host;
};

void TestHostile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_host = std::make_unique<FakeModalHost>();
    m_form = std::make_unique<Form1>();
    m_form->Start();
}

void TestHostile::cleanup()
{
    QVERIFY(m_host->untrapped.isEmpty());
    m_form.reset();
    m_host.reset();
    m_dir.reset();
}

void TestHostile::load(const QString& path, bool byDrop)
{
    if (byDrop) {
        platform::DataObject data(QStringList{path});
        m_form->p1_OLEDragDrop(data);
    } else {
        m_host->choices << path;
        m_form->Command1_Click();
    }
}

void TestHostile::addByDrop()
{
    QTest::addColumn<bool>("byDrop");
}

void TestHostile::refusedPromptly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("bytes");
    addByDrop();
    const QList<std::pair<const char*, QByteArray>> files = {
        {"empty", QByteArray()},
        {"one byte", QByteArray("\xFF", 1)},
        {"PNG claiming 100000x100000", samples::pngClaiming(100000, 100000)},
        {"bitmap claiming 100000x100000", samples::bmpClaiming(100000, 100000)},
        {"bitmap claiming 100000x-100000", samples::bmpClaiming(100000, -100000)},
        {"GIF claiming 65535x65535", samples::gifClaiming(65535, 65535)},
        {"1-bit bitmap claiming 33554445x7", samples::bmpClaiming(33554445, 7, 1)},
        {"32-bit bitmap claiming 2147483647x2147483647",
         samples::bmpClaiming(2147483647, 2147483647, 32)},
        // Made by the fuzzer: a 13837x0 screen with a 269x2 frame placed
        // 8960 rows below it, and the data cut short.
        {"GIF frame far outside a 13837x0 screen",
         QByteArray("GIF89a\x0d\x36\x00\x00\xf1\x00\x00\x00\x00\x00\x55\x55\x55\xaa\xaa"
                    "\xaa\xff\xff\xff\x2c\x00\x00\x00\x23\x0d\x01\x02\x00\x00\x02\x34\x04"
                    "\x00\x3b",
                    40)},
        {"JPEG claiming 65535x65535", samples::jpegClaiming(65535, 65535)},
    };
    for (const auto& [name, bytes] : files) {
        for (const bool byDrop : {false, true}) {
            if (byDrop && QByteArray(name).startsWith("1-bit")) // seconds each; once is enough
                continue;
            QTest::addRow("%s, %s", name, byDrop ? "dropped" : "chosen")
                << "file" << bytes << byDrop;
        }
    }
    for (const char* kind : {"folder", "FIFO", "link to FIFO", "character device", "missing"}) {
        for (const bool byDrop : {false, true}) {
            QTest::addRow("%s, %s", kind, byDrop ? "dropped" : "chosen")
                << kind << QByteArray() << byDrop;
        }
    }
}

// After a good picture, so that the refusal is seen to drop it.
void TestHostile::refusedPromptly()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, byDrop);
    const QString good = m_dir->filePath("good.png");
    fixtures::write(fixtures::pattern(30, 20), good);
    load(good, false);
    QVERIFY(m_host->messages.empty());

    const QString path = m_dir->filePath("x.jpg");
    const QByteArray name = QFile::encodeName(path);
    if (kind == "file") {
        fixtures::writeText(path, bytes);
    } else if (kind == "folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "FIFO") {
        QCOMPARE(::mkfifo(name.constData(), 0644), 0);
    } else if (kind == "link to FIFO") {
        const QByteArray fifo = QFile::encodeName(m_dir->filePath("fifo"));
        QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
        QVERIFY(QFile::link(m_dir->filePath("fifo"), path));
    } else if (kind == "character device") {
        QVERIFY(QFile::link("/dev/zero", path));
    }

    QElapsedTimer clock;
    clock.start();
    {
        // Lets a reader stuck on the FIFO go a little after the limit, so a
        // block shows as slowness rather than a hung suite.
        FifoReleaser releaser(kind.contains("FIFO") ? path : QString(),
                              std::chrono::milliseconds(PromptMs + 200));
        load(path, byDrop);
    }
    const qint64 elapsed = clock.elapsed();
    // Two of these came from the fuzzer: a bitmap header that claims 235
    // million pixels in a file of a hundred bytes, and a GIF whose empty
    // screen Qt would grow to reach a frame far outside it (half a gigabyte
    // from 40 bytes).  Both must be refused, not loaded as made-up pictures.
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, Refusal);
    QCOMPARE(m_host->messages[0].buttons, 16);
    QCOMPARE(m_host->messages[0].title, QString("警告："));
    QVERIFY2(elapsed < PromptMs, qPrintable(QString("took %1 ms").arg(elapsed)));
    QCOMPARE(m_form->Picture1.Picture().Handle(), 0);
    QCOMPARE(m_form->SourcePath, good); // the last picture that loaded
}

void TestHostile::cutShortGivesRefusalOrWholePicture_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("wholeFile");
    addByDrop();
    const QImage picture = fixtures::pattern(64, 48);
    const QList<std::pair<const char*, QByteArray>> whole = {
        {"PNG", samples::encoded(picture, "png")},
        {"JPEG", samples::encoded(picture, "jpeg", 80)},
        {"progressive-free GIF", samples::gif(picture)},
        {"bitmap", samples::encoded(picture, "bmp")},
    };
    for (const auto& [format, bytes] : whole) {
        QVERIFY(!bytes.isEmpty());
        // The whole file first: it must load, or the cut ones prove nothing.
        const QList<qsizetype> lengths = {
            bytes.size(),    6, 20, 40, bytes.size() / 4, bytes.size() / 2, bytes.size() * 9 / 10,
            bytes.size() - 1};
        for (const qsizetype length : lengths) {
            QTest::addRow("%s, %lld of %lld bytes", format, static_cast<long long>(length),
                          static_cast<long long>(bytes.size()))
                << bytes.left(length) << (length == bytes.size()) << bool(length % 2);
        }
    }
}

// Some readers fill in what is missing; that is fine as long as the
// picture has its full size and the window treats it as loaded.
void TestHostile::cutShortGivesRefusalOrWholePicture()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, wholeFile);
    QFETCH(bool, byDrop);
    const QString path = m_dir->filePath("short.jpg");
    fixtures::writeText(path, bytes);
    QElapsedTimer clock;
    clock.start();
    load(path, byDrop);
    QVERIFY2(clock.elapsed() < PromptMs, qPrintable(QString("took %1 ms").arg(clock.elapsed())));
    if (wholeFile || m_host->messages.empty()) {
        QCOMPARE(m_host->messages.size(), size_t(0));
        QCOMPARE(m_form->Picture3.Picture().image().size(), QSize(64, 48));
        QVERIFY(m_form->Picture1.Picture().Handle() != 0);
        QCOMPARE(m_form->SourcePath, path);
    } else {
        QCOMPARE(m_host->messages.size(), size_t(1));
        QCOMPARE(m_host->messages[0].prompt, Refusal);
        QCOMPARE(m_form->Picture1.Picture().Handle(), 0);
    }
}

void TestHostile::oddPathsLoad_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("link");
    addByDrop();
    for (const bool byDrop : {false, true}) {
        const char* how = byDrop ? "dropped" : "chosen";
        QTest::addRow("spaces and Chinese, %s", how) << "我的 照片 2024"
                                                     << "春节 合影.png"
                                                     << "" << byDrop;
        QTest::addRow("leading dash and quote, %s", how) << "-x"
                                                         << "it's #1.png"
                                                         << "" << byDrop;
        QTest::addRow("symbolic link, %s", how) << "links"
                                                << "photo.png"
                                                << "link.jpg" << byDrop;
        QTest::addRow("link to a link, %s", how) << "链接"
                                                 << "photo.png"
                                                 << "a/../b.jpg" << byDrop;
    }
}

// The picture loads, and the tiles would go beside the name that was
// given (the link's folder, not the target's).
void TestHostile::oddPathsLoad()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, link);
    QFETCH(bool, byDrop);
    QVERIFY(QDir(m_dir->path()).mkpath(folder));
    const QString target = m_dir->filePath(folder + "/" + name);
    const QImage picture = fixtures::pattern(33, 21);
    fixtures::write(picture, target);
    QString path = target;
    if (link == "link.jpg") {
        path = m_dir->filePath("link.jpg");
        QVERIFY(QFile::link(target, path));
    } else if (!link.isEmpty()) {
        QVERIFY(QFile::link(target, m_dir->filePath("first.png")));
        path = m_dir->filePath("second.jpg");
        QVERIFY(QFile::link(m_dir->filePath("first.png"), path));
    }
    load(path, byDrop);
    QCOMPARE(m_host->messages.size(), size_t(0));
    QCOMPARE(m_form->Picture3.Picture().image(), picture);
    QCOMPARE(m_form->SourcePath, path);
    QCOMPARE(m_form->SourceFolder, QFileInfo(path).path() + "/");
}

void TestHostile::fileGoneAfterChoosing()
{
    const QString path = m_dir->filePath("fleeting.png");
    fixtures::write(fixtures::pattern(30, 20), path);
    m_host->afterChoosing = [](const QString& chosen) { QFile::remove(chosen); };
    load(path, false);
    QCOMPARE(m_host->messages.size(), size_t(1));
    QCOMPARE(m_host->messages[0].prompt, Refusal);
    QCOMPARE(m_form->Picture1.Picture().Handle(), 0);
    QVERIFY(m_form->SourcePath.isEmpty());
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
