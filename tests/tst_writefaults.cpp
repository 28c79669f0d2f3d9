// Cutting onto file systems that fail under it: a read-only mount, a disk
// that fills up part-way, a folder that vanished, names taken by a folder, a
// FIFO or an immutable file.  Runs as root in a private mount namespace
// (run-with-private-mounts.sh), because root writes through permission bits:
// only a real read-only mount, a full tmpfs or the immutable attribute stop
// it.  Every fault must give the save-failure message naming the file, leave
// the folder exactly as it was (no half-written or temporary file, earlier
// tiles byte for byte), and the next press after the fault is gone succeeds.

#include "app/Form1.h"
#include "support/FakeModalHost.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr qint64 PromptMs = 1000;
constexpr qint64 Page = 4096; // tmpfs counts whole pages

const QString Done = QStringLiteral("图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可");

// Names, kinds and bytes of everything in a folder, hidden files included.
using Snapshot = std::map<QString, QByteArray>;

Snapshot snapshot(const QString& folder)
{
    Snapshot entries;
    const QDir dir(folder);
    for (const QFileInfo& info :
         dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QByteArray what = "other";
        if (info.isSymLink())
            what = "link to " + QFile::encodeName(info.symLinkTarget());
        else if (info.isDir())
            what = "folder";
        else if (info.isFile()) {
            QFile file(info.filePath());
            what = file.open(QIODevice::ReadOnly) ? "file " + file.readAll() : "unreadable";
        }
        entries[info.fileName()] = what;
    }
    return entries;
}

QString describe(const Snapshot& entries)
{
    QStringList names;
    for (const auto& [name, what] : entries)
        names << name + " (" + QString::fromUtf8(what.left(20)) + ")";
    return names.join(", ");
}

// Runs a mount, umount or chattr; what it says is shown only when it fails
// and `expectFailure` is not set (clean-up tries things that may be undone).
bool run(const QString& program, const QStringList& arguments, bool expectFailure = false)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(10000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok && !expectFailure)
        qWarning("%s %s: %s", qPrintable(program), qPrintable(arguments.join(' ')),
                 process.readAll().constData());
    return ok;
}

qint64 freeBytes(const QString& path)
{
    struct statvfs fs
    {
    };
    if (::statvfs(QFile::encodeName(path).constData(), &fs) != 0) return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

// Opens the read end of a FIFO after `after`, so a writer that blocks on
// it is let go and a block shows as slowness instead of a hung suite.
class FifoReleaser
{
public:
    FifoReleaser(const QString& path, std::chrono::milliseconds after)
        : m_thread([this, name = QFile::encodeName(path), after] {
              const auto until = std::chrono::steady_clock::now() + after;
              int fd = -1;
              while (!m_stop) {
                  if (fd < 0 && !name.isEmpty() && std::chrono::steady_clock::now() >= until)
                      fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
              if (fd >= 0) ::close(fd);
          })
    {
    }
    ~FifoReleaser()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

class TestWriteFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void faultLeavesEverythingAsItWas_data();
    void faultLeavesEverythingAsItWas();

private:
    QString tile(int n) const { return m_folder + QStringLiteral("/%1.jpg").arg(n); }

    bool m_canMount = false;
    std::unique_ptr<QTemporaryDir> m_base;
    QString m_fs;     // a small tmpfs when we may mount, else a plain folder
    QString m_folder; // the picture's folder on it
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<FakeModalHost> m_host;
};

void TestWriteFaults::initTestCase()
{
    m_canMount = qEnvironmentVariableIsSet("TESSARINE_PRIVATE_MOUNTS") && ::geteuid() == 0;
    if (!m_canMount) qInfo("not root in a private mount namespace: the cases that mount skip");
}

void TestWriteFaults::init()
{
    m_base = std::make_unique<QTemporaryDir>();
    QVERIFY(m_base->isValid());
    m_fs = m_base->filePath("fs");
    QVERIFY(QDir().mkdir(m_fs));
    if (m_canMount)
        QVERIFY(run("mount", {"-t", "tmpfs", "-o", "size=4m,mode=0755", "tessarine-test", m_fs}));
    m_folder = m_fs + "/pictures";
    QVERIFY(QDir().mkdir(m_folder));
    m_host = std::make_unique<FakeModalHost>();
    m_form = std::make_unique<Form1>();
    m_form->Start();
}

void TestWriteFaults::cleanup()
{
    QVERIFY(m_host->untrapped.isEmpty()); // the program never ended
    m_form.reset();
    m_host.reset();
    if (m_canMount) {
        // Whatever a failed case left: attributes off, mounts gone, so the
        // temporary folder can be removed.
        if (QFileInfo::exists(m_folder)) run("chattr", {"-R", "-i", m_folder});
        while (run("umount", {"-l", m_folder})) {
        }
        run("umount", {"-l", m_fs});
    }
    m_base.reset();
}

void TestWriteFaults::faultLeavesEverythingAsItWas_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failing"); // the tile the message must name
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<bool>("earlierTiles");
    QTest::addColumn<int>("tilesThatFit"); // for a full disk
    QTest::addColumn<QString>("reason");   // pattern the message's reason must match
    QTest::addColumn<bool>("mounts");

    const QSize photo(600, 300), tiny(3, 3);
    QTest::newRow("read-only mount")
        << "read-only" << 1 << photo << true << 0 << "Read-only" << true;
    QTest::newRow("read-only mount, no earlier tiles")
        << "read-only" << 1 << photo << false << 0 << "Read-only" << true;
    QTest::newRow("disk full in tile 5") << "full" << 5 << photo << true << 4 << "space" << true;
    QTest::newRow("disk full in tile 5, tiny tiles")
        << "full" << 5 << tiny << true << 4 << "space" << true;
    QTest::newRow("disk full before tile 1, tiny tiles")
        << "full" << 1 << tiny << false << 0 << "space" << true;
    QTest::newRow("immutable tile 3")
        << "immutable tile" << 3 << photo << true << 0 << "not permitted" << true;
    QTest::newRow("immutable folder")
        << "immutable folder" << 1 << photo << true << 0 << "not permitted" << true;
    QTest::newRow("folder removed after loading")
        << "removed" << 1 << photo << true << 0 << "" << false;
    QTest::newRow("tile 5 is a folder") << "folder" << 5 << photo << true << 0 << "" << false;
    QTest::newRow("tile 6 is a FIFO") << "FIFO" << 6 << photo << true << 0 << "" << false;
}

void TestWriteFaults::faultLeavesEverythingAsItWas()
{
    QFETCH(QString, fault);
    QFETCH(int, failing);
    QFETCH(QSize, picture);
    QFETCH(bool, earlierTiles);
    QFETCH(int, tilesThatFit);
    QFETCH(QString, reason);
    QFETCH(bool, mounts);
    if (mounts && !m_canMount)
        QSKIP("needs root in a private mount namespace: run through run-with-private-mounts.sh");

    const QString photo = m_folder + "/photo.png";
    fixtures::write(fixtures::pattern(picture.width(), picture.height()), photo);
    if (earlierTiles) {
        for (int n = 1; n <= 9; ++n)
            fixtures::writeText(tile(n), "earlier tile " + QByteArray::number(n));
    }
    m_host->choices << photo;
    m_form->Command1_Click();
    QVERIFY(m_host->messages.empty());

    const QString filler = m_fs + "/filler";
    const QByteArray target = QFile::encodeName(tile(failing));
    if (fault == "read-only") {
        QVERIFY(run("mount", {"--bind", m_folder, m_folder}));
        QVERIFY(run("mount", {"-o", "remount,bind,ro", m_folder}));
    } else if (fault == "full") {
        // Room for whole staged tiles and half of the next one, counted in
        // the pages tmpfs hands out.
        const int w = picture.width() / 3, h = picture.height() / 3;
        const qint64 tileBytes = 54 + qint64((w * 3 + 3) & ~3) * h;
        const qint64 tilePages = (tileBytes + Page - 1) / Page;
        const qint64 room = (tilesThatFit * tilePages + tilePages / 2) * Page;
        QFile fill(filler);
        QVERIFY(fill.open(QIODevice::WriteOnly));
        QCOMPARE(fill.write(QByteArray(freeBytes(m_fs) - room, 'f')), freeBytes(m_fs) - room);
        fill.close();
        QCOMPARE(freeBytes(m_fs), room);
    } else if (fault == "immutable tile") {
        QVERIFY(run("chattr", {"+i", tile(failing)}));
    } else if (fault == "immutable folder") {
        QVERIFY(run("chattr", {"+i", m_folder}));
    } else if (fault == "removed") {
        QVERIFY(QDir(m_folder).removeRecursively());
    } else if (fault == "folder") {
        QVERIFY(QFile::remove(tile(failing)));
        QVERIFY(QDir().mkdir(tile(failing)));
    } else if (fault == "FIFO") {
        QVERIFY(QFile::remove(tile(failing)));
        QCOMPARE(::mkfifo(target.constData(), 0644), 0);
    }
    const Snapshot before = snapshot(m_folder);

    QElapsedTimer clock;
    clock.start();
    {
        FifoReleaser releaser(fault == "FIFO" ? tile(failing) : QString(),
                              std::chrono::milliseconds(PromptMs + 500));
        m_form->Command2_Click();
    }
    QVERIFY2(clock.elapsed() < PromptMs, qPrintable(QString("took %1 ms").arg(clock.elapsed())));

    QCOMPARE(m_host->messages.size(), size_t(1));
    const FakeModalHost::Message& message = m_host->messages[0];
    const QString head = "图片保存失败：" + tile(failing) + "\n";
    QVERIFY2(message.prompt.startsWith(head), qPrintable(message.prompt));
    const QString why = message.prompt.mid(head.size());
    QVERIFY2(!why.trimmed().isEmpty(), "no reason given");
    QVERIFY2(why.contains(QRegularExpression(reason, QRegularExpression::CaseInsensitiveOption)),
             qPrintable(why));
    QCOMPARE(message.buttons, 16);
    QCOMPARE(message.title, QString("警告："));
    const Snapshot after = snapshot(m_folder);
    QVERIFY2(after == before,
             qPrintable("before: " + describe(before) + "\nafter: " + describe(after)));
    QVERIFY(m_form->Picture1.Picture().Handle() != 0); // still loaded

    // Once the fault is gone, the same press writes all nine.
    if (fault == "read-only")
        QVERIFY(run("umount", {m_folder}));
    else if (fault == "full")
        QVERIFY(QFile::remove(filler));
    else if (fault.startsWith("immutable"))
        QVERIFY(run("chattr", {"-i", fault == "immutable tile" ? tile(failing) : m_folder}));
    else if (fault == "removed")
        QVERIFY(QDir().mkpath(m_folder));
    else if (fault == "folder")
        QVERIFY(QDir().rmdir(tile(failing)));
    else if (fault == "FIFO")
        QVERIFY(QFile::remove(tile(failing)));
    m_form->Command2_Click();
    QCOMPARE(m_host->messages.size(), size_t(2));
    QCOMPARE(m_host->messages[1].prompt, Done);
    const Snapshot done = snapshot(m_folder);
    QCOMPARE(done.size(), fault == "removed" ? size_t(9) : size_t(10)); // tiles (and photo)
    for (int n = 1; n <= 9; ++n)
        QVERIFY(done.at(QString("%1.jpg").arg(n)).startsWith("file BM"));
}

QTEST_MAIN(TestWriteFaults)
#include "tst_writefaults.moc"
