// Writing the nine tiles onto file systems that fail under it, and a commit
// whose rename fails at each of the nine steps.  Every fault must give a
// SaveError naming the file with a Chinese reason and leave the folder
// exactly as it was (old tiles byte for byte, nothing hidden left behind);
// the next attempt, once the fault is gone, must write tiles byte for byte
// as Qt's own BMP writer does and remove what crashed cuts left.  Run it
// through run-with-private-mounts.sh: the cases that mount or set attributes
// need root in a private mount namespace, and as root the read-only cases
// need the overriding of file permissions dropped.

#include "platform/PictureFiles.h"
#include "platform/StagedPictures.h"
#include "support/StarvedMemory.h"
#include "support/TestPictures.h"

#include <QtTest>

#include <optional>

#include <csignal>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// The writer's steps, in order: a file's data synced, a folder synced, a second name, a
// rename, a name removed.  A process with g_killAt set dies before that step, as a crash, the
// out-of-memory killer or a power cut would stop it.
QByteArray g_calls;
int g_killAt = 0;
static int step(char call, long number, auto... arguments)
{
    g_calls += call;
    if (g_calls.size() == g_killAt) ::raise(SIGKILL);
    return int(syscall(number, arguments...));
}
// clang-format off
#define STEP(letter, call, parameters, ...) \
    extern "C" int call parameters { return step(letter, SYS_##call, __VA_ARGS__); }
STEP('d', fdatasync, (int fd), fd)
STEP('f', fsync, (int fd), fd)
STEP('l', link, (const char* from, const char* to) noexcept, from, to)
STEP('r', rename, (const char* from, const char* to) noexcept, from, to)
STEP('u', unlink, (const char* name) noexcept, name)
// clang-format on
// The commit of nine tiles over old tiles 1, 3, 5, 7 and 9: nine files synced, the marker
// synced, the old tile kept under a second name before each new one that replaces it, the
// folder synced, then the kept old tiles and the marker removed.
const QByteArray kCommit = "dddddddddflrrlrrlrrlrrlrfuuuuuu";

namespace {

// Names and contents of everything in the current folder, hidden files included.
QMap<QString, QByteArray> snapshot()
{
    QMap<QString, QByteArray> entries;
    for (const QFileInfo& info : QDir().entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot)) {
        QFile file(info.filePath());
        entries[info.fileName()] =
            info.isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : "not a file";
    }
    return entries;
}

// Tile n: widths that need every padding of a row, and the last tiles large
// enough to be written in several pieces.  Tile 1 is 26694 bytes.
QImage tileImage(int n)
{
    return testpictures::noise(97 * n + 1, 90 * n);
}

} // namespace

// The current folder is the tiles' folder, "pictures" at the root of a file
// system of its own when we may mount one.
class TestWriteFaults : public QObject
{
    Q_OBJECT

    static bool shell(const QString& line) { return QProcess::execute("sh", {"-c", line}) == 0; }
    QString tile(int n) const { return m_folder + QStringLiteral("/%1.jpg").arg(n); }

    // Stages the nine tiles; the hidden file of tile `vanish` is removed
    // before the commit, which makes its rename fail.  Meanwhile allocations
    // of `memory` bytes and more fail.
    std::optional<platform::SaveError> saveAll(int vanish = 0, int memory = -1)
    {
        const auto enough = qScopeGuard([] { g_failFrom = 0; });
        try {
            platform::StagedPictures files;
            QList<platform::Picture> pictures;
            for (int n = 1; n <= 9; ++n)
                pictures << platform::Picture(tileImage(n));
            g_failFrom = std::size_t(std::max(memory, 0));
            for (int n = 1; n <= 9; ++n)
                files.SavePicture(pictures[n - 1], tile(n));
            if (vanish) shell(QStringLiteral("rm .%1.jpg.*").arg(vanish));
            files.Commit();
            return std::nullopt;
        } catch (const platform::SaveError& e) {
            return e;
        }
    }

    // Set by run-with-private-mounts.sh when it runs us as root in a mount namespace of our own.
    const bool m_canMount = qEnvironmentVariableIsSet("TESSARINE_PRIVATE_MOUNTS");
    QString m_folder;

private slots:
    // Each fault is made and undone by shell commands in the tiles' folder;
    // without them, the rename of that tile fails instead.
    void faultLeavesFolderAsItWas_data()
    {
        QTest::addColumn<int>("failing"); // the tile the error must name
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("undo");
        QTest::addColumn<int>("memory"); // allocations of that size and more fail; -1: none
        const auto row = [](const char* name, int failing, const char* reason, QString fault,
                            QString undo, int memory = -1) {
            QTest::newRow(name) << failing << QString(reason) << fault << undo << memory;
        };
        // clang-format off
        row("read-only tile 3", 3, "没有权限", "chmod a-w 3.jpg", "chmod u+w 3.jpg");
        row("read-only folder", 1, "没有权限", "chmod a-w .", "chmod u+w .");
        row("tile 4 is a folder", 4, "这是一个文件夹", "mkdir 4.jpg", "rmdir 4.jpg");
        row("tile 6 is a FIFO", 6, "这不是普通文件，不能替换", "mkfifo 6.jpg", "rm 6.jpg");
        row("folder moved away", 1, "找不到文件或文件夹", "mv ../pictures ../gone", "mv ../gone ../pictures");
        // $PPID is this test; 13000 bytes let a part of tile 1 through.
        row("file size limit: short write", 1, "文件太大",
            "prlimit --pid $PPID --fsize=13000:", "prlimit --pid $PPID --fsize=unlimited:");
        // The bind covers the folder's name; our working folder is the one
        // beneath, hence "../pictures" to find the mount again.
        row("as root: read-only mount", 1, "磁盘是只读的", "mount --bind -o ro . .", "umount ../pictures");
        // Fills the file system, then frees room for a part of tile 1.
        row("as root: full disk, short write", 1, "磁盘空间不足",
            "dd if=/dev/zero of=../filler bs=4k 2>/dev/null; truncate -s -13000 ../filler", "rm ../filler");
        row("as root: immutable tile 7", 7, "没有权限", "chattr +i 7.jpg", "chattr -i 7.jpg");
        // Crashed cuts kept old tiles 5 and 3 aside: 5 comes back even though the cut
        // fails, 3 stays hidden while a tile has its name.
        row("kept tiles 5 and 3, tile 8 a folder", 8, "这是一个文件夹",
            "mv 5.jpg .5.jpg.tessarine-2147483647-1.old; cp 3.jpg .3.jpg.tessarine-2147483647-2.old; mkdir 8.jpg",
            "rmdir 8.jpg; rm .3.jpg.tessarine-2147483647-2.old");
        row("out of memory: packing tile 4", 4, "内存不足", {}, {}, 256 * 1024);
        row("out of memory: the first kilobyte", 1, "内存不足", {}, {}, 1024);
        for (int n = 1; n <= 9; ++n)
            row(qPrintable(QStringLiteral("rename %1 of 9 fails").arg(n)), n, "找不到文件或文件夹", {}, {});
        // clang-format on
    }

    void faultLeavesFolderAsItWas()
    {
        QFETCH(int, failing);
        QFETCH(QString, reason);
        QFETCH(QString, fault);
        QFETCH(QString, undo);
        QFETCH(int, memory);
        if (QByteArray(QTest::currentDataTag()).startsWith("as root") && !m_canMount)
            QSKIP("needs root in a private mount namespace");
        if (memory > 0 && !kCanStarve) QSKIP("memory cannot be starved here");
        // Old tiles where the odd ones go, so that a failing commit has both old files to put
        // back and new names to remove again.
        QTemporaryDir fs;
        const auto unmount = qScopeGuard([&] {
            if (m_canMount) shell("umount --lazy --recursive " + fs.path());
        });
        QVERIFY(!m_canMount || shell("mount -t tmpfs -o size=16m tessarine " + fs.path()));
        m_folder = fs.filePath("pictures");
        QVERIFY(QDir().mkdir(m_folder) && QDir::setCurrent(m_folder));
        QVERIFY(shell("for n in 1 3 5 7 9; do echo old tile $n > $n.jpg; done"));
        const auto before = snapshot();
        QVERIFY2(shell(fault), qPrintable(fault));
        const auto failure = saveAll(fault.isEmpty() && memory < 0 ? failing : 0, memory);
        QVERIFY2(shell(undo), qPrintable(undo));
        QVERIFY(snapshot() == before);
        QVERIFY(failure);
        QCOMPARE(QStringList({failure->path(), failure->description()}),
                 QStringList({tile(failing), reason}));

        // Hidden files of a cut that crashed go with the next save (no process
        // has the largest process id), a kept old tile once a new one has its
        // name; those of a cut still running (process 1 always is) stay.
        // Then the folder holds the nine tiles and that one.  Every tile's
        // data is on the disk before the first rename, the names after the last.
        QVERIFY(shell("touch .1.jpg.tessarine-2147483647-1.new .3.jpg.tessarine-2147483647-2.old "
                      ".2.jpg.tessarine-1-1.old"));
        const auto retry = saveAll();
        QVERIFY2(!retry, retry ? qPrintable(retry->description()) : "");
        QVERIFY2(g_calls.endsWith(kCommit + 'u'), g_calls); // and the kept tile 3
        QVERIFY(QFile::remove(".2.jpg.tessarine-1-1.old"));
        QCOMPARE(snapshot().size(), 9);
        for (int n = 1; n <= 9; ++n)
            QVERIFY(tileImage(n).save("../qt.bmp") &&
                    shell(QStringLiteral("cmp ../qt.bmp %1.jpg").arg(n)));
    }

    void crashLeavesOneWholeSet_data()
    {
        QTest::addColumn<int>("step");
        for (int n = 1; n <= kCommit.size(); ++n)
            QTest::addRow("killed at step %d, %c", n, kCommit[n - 1]) << n;
    }

    // A cut over old tiles killed at each step of its commit.  Loading a picture from the
    // folder afterwards leaves all the old tiles or all the new ones, and nothing hidden.
    void crashLeavesOneWholeSet()
    {
        QFETCH(int, step);
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(m_folder = dir.path()));
        QVERIFY(shell("for n in 1 3 5 7 9; do echo old tile $n > $n.jpg; done"));
        auto old = snapshot(), whole = old;
        for (int n = 1; n <= 9; ++n)
            whole[QStringLiteral("%1.jpg").arg(n)] = testpictures::encode(tileImage(n), "bmp");
        const pid_t cut = ::fork();
        if (cut == 0) {
            g_killAt = int(g_calls.size()) + step; // counted on from this process's calls
            saveAll();
            ::_exit(0);
        }
        int status = 0;
        QVERIFY(::waitpid(cut, &status, 0) == cut && WIFSIGNALED(status));
        try {
            (void)platform::LoadPicture(tile(2)); // a new tile, or none where the old set is back
        } catch (const platform::RuntimeError&) {
        }
        QVERIFY(snapshot() == old || snapshot() == whole);
    }
};

QTEST_MAIN(TestWriteFaults)
#include "tst_writefaults.moc"
