// Writing the nine tiles onto file systems that fail under it.  Every fault
// must give a SaveError naming the file with a Chinese reason, leave the
// folder exactly as it was (old tiles byte for byte, nothing hidden left
// behind), and the next attempt after the fault is gone must succeed.  The
// cases that mount or set attributes need root in a private mount namespace
// (run-with-private-mounts.sh); the others need root's overriding of file
// permissions dropped, which that script does too.

#include "platform/StagedPictures.h"
#include "platform/SystemErrorText.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <map>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using platform::SaveError;

namespace {

// Names and contents of everything in a folder, hidden files included.
std::map<QString, QByteArray> snapshot(const QString& folder)
{
    std::map<QString, QByteArray> entries;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                            QDir::System | QDir::NoDotAndDotDot)) {
        QFile file(info.filePath());
        entries[info.fileName()] = !info.isFile()                   ? "not a file"
                                   : file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                    : "unreadable";
    }
    return entries;
}

// Tile n: widths that need every padding of a row, and the last one large
// enough to be written in several pieces.
QImage tileImage(int n)
{
    QImage image(97 * n + 1, 90 * n, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * n, y + n, x ^ y));
    }
    return image;
}

QByteArray qtBitmap(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "bmp");
    return buffer.data();
}

// Runs mount, umount or chattr, keeping what they say to themselves.
bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class TestWriteFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void faultLeavesFolderAsItWas_data();
    void faultLeavesFolderAsItWas();
    void failedRenameRestoresOldSet_data();
    void failedRenameRestoresOldSet();
    void leftoversOfEndedCutsAreRemoved();

private:
    QString tile(int n) const { return m_folder + QStringLiteral("/%1.jpg").arg(n); }
    void writeOldTiles();
    void stageAll(platform::StagedPictures& files);
    void verifyNewTiles();

    const bool m_canMount = qEnvironmentVariableIsSet("TESSARINE_PRIVATE_MOUNTS") && geteuid() == 0;
    std::unique_ptr<QTemporaryDir> m_base;
    QString m_fs, m_folder;
};

void TestWriteFaults::init()
{
    m_base = std::make_unique<QTemporaryDir>();
    m_fs = m_base->filePath("fs");
    QVERIFY(QDir().mkdir(m_fs));
    if (m_canMount) QVERIFY(run("mount", {"-t", "tmpfs", "-o", "size=16m", "tessarine", m_fs}));
    m_folder = m_fs + "/pictures";
    QVERIFY(QDir().mkdir(m_folder));
}

void TestWriteFaults::cleanup()
{
    if (m_canMount) {
        run("chattr", {"-R", "-i", m_fs});
        while (run("umount", {m_folder})) {
        }
        run("umount", {"-l", m_fs});
    }
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_base.reset();
}

void TestWriteFaults::writeOldTiles()
{
    for (int n = 1; n <= 9; ++n) {
        QFile file(tile(n));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old tile " + QByteArray::number(n)));
    }
}

void TestWriteFaults::stageAll(platform::StagedPictures& files)
{
    for (int n = 1; n <= 9; ++n)
        files.SavePicture(platform::Picture(tileImage(n)), tile(n));
}

void TestWriteFaults::verifyNewTiles()
{
    const auto entries = snapshot(m_folder);
    QCOMPARE(entries.size(), std::size_t(9));
    for (int n = 1; n <= 9; ++n)
        QVERIFY2(entries.at(QFileInfo(tile(n)).fileName()) == qtBitmap(tileImage(n)),
                 qPrintable(tile(n)));
}

void TestWriteFaults::faultLeavesFolderAsItWas_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failing"); // the tile the error must name
    QTest::addColumn<int>("error");   // whose text the reason must be; 0: not a plain file
    QTest::addColumn<bool>("mounts");
    QTest::newRow("read-only tile 3") << "read-only tile" << 3 << EACCES << false;
    QTest::newRow("read-only folder") << "read-only folder" << 1 << EACCES << false;
    QTest::newRow("tile 5 is a folder") << "folder" << 5 << EISDIR << false;
    QTest::newRow("tile 6 is a FIFO") << "FIFO" << 6 << 0 << false;
    QTest::newRow("folder removed") << "removed" << 1 << ENOENT << false;
    QTest::newRow("file size limit: short write") << "size limit" << 1 << EFBIG << false;
    QTest::newRow("read-only mount") << "read-only mount" << 1 << EROFS << true;
    QTest::newRow("full disk: short write") << "full" << 1 << ENOSPC << true;
    QTest::newRow("immutable tile 4") << "immutable" << 4 << EPERM << true;
}

void TestWriteFaults::faultLeavesFolderAsItWas()
{
    QFETCH(QString, fault);
    QFETCH(int, failing);
    QFETCH(int, error);
    QFETCH(bool, mounts);
    if (mounts && !m_canMount) QSKIP("needs root in a private mount namespace");
    writeOldTiles();
    const QByteArray target = QFile::encodeName(tile(failing));
    const QString filler = m_fs + "/filler";
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    if (fault == "read-only tile") QVERIFY(QFile::setPermissions(tile(failing), QFile::ReadOwner));
    if (fault == "read-only folder")
        QVERIFY(QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner));
    const QString readOnly = fault == "read-only folder" ? m_folder : tile(failing);
    if (!mounts && fault.startsWith("read-only") &&
        access(QFile::encodeName(readOnly).constData(), W_OK) == 0)
        QSKIP("permissions do not bind: run through run-unprivileged.sh");
    if (fault == "folder") QVERIFY(QFile::remove(tile(failing)) && QDir().mkdir(tile(failing)));
    if (fault == "FIFO")
        QVERIFY(QFile::remove(tile(failing)) && mkfifo(target.constData(), 0644) == 0);
    if (fault == "removed") QVERIFY(QDir(m_folder).removeRecursively());
    if (fault == "read-only mount")
        QVERIFY(run("mount", {"--bind", "-o", "ro", m_folder, m_folder}));
    if (fault == "immutable") QVERIFY(run("chattr", {"+i", tile(failing)}));
    if (fault == "full") {
        // Room for half of tile 1: its first write stops part-way.
        struct statvfs fs
        {
        };
        QCOMPARE(statvfs(QFile::encodeName(m_fs).constData(), &fs), 0);
        QFile file(filler);
        const qint64 fill = qint64(fs.f_bavail * fs.f_frsize) - qtBitmap(tileImage(1)).size() / 2;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(fill, 'f')) == fill);
    }
    if (fault == "size limit") {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit half{rlim_t(qtBitmap(tileImage(1)).size() / 2), RLIM_INFINITY};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &half), 0);
    }
    const auto before = snapshot(m_folder);

    try {
        platform::StagedPictures files;
        stageAll(files);
        files.Commit();
        QFAIL("no error");
    } catch (const SaveError& e) {
        QCOMPARE(e.path(), tile(failing));
        QVERIFY2(!e.description().isEmpty() &&
                     !e.description().contains(QRegularExpression("[A-Za-z]")),
                 qPrintable(e.description()));
        if (error != 0) QCOMPARE(e.description(), platform::systemErrorText(error));
    }
    setrlimit(RLIMIT_FSIZE, &unlimited);
    QVERIFY(snapshot(m_folder) == before);

    if (fault == "read-only tile" || fault == "read-only folder")
        QVERIFY(QFile::setPermissions(readOnly,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (fault == "removed") QVERIFY(QDir().mkdir(m_folder));
    if (fault == "folder") QVERIFY(QDir().rmdir(tile(failing)));
    if (fault == "FIFO") QVERIFY(QFile::remove(tile(failing)));
    if (fault == "read-only mount") QVERIFY(run("umount", {m_folder}));
    if (fault == "immutable") QVERIFY(run("chattr", {"-i", tile(failing)}));
    if (fault == "full") QVERIFY(QFile::remove(filler));
    platform::StagedPictures files;
    stageAll(files);
    files.Commit();
    verifyNewTiles();
}

void TestWriteFaults::failedRenameRestoresOldSet_data()
{
    QTest::addColumn<int>("failing");
    QTest::addColumn<bool>("oldTiles");
    for (int n = 1; n <= 9; ++n) {
        QTest::addRow("rename %d of 9 fails", n) << n << true;
        QTest::addRow("rename %d of 9 fails, no old tiles", n) << n << false;
    }
}

// The staged file vanishing before the commit makes that one rename fail.
void TestWriteFaults::failedRenameRestoresOldSet()
{
    QFETCH(int, failing);
    QFETCH(bool, oldTiles);
    if (oldTiles) writeOldTiles();
    const auto before = snapshot(m_folder);
    platform::StagedPictures files;
    stageAll(files);
    const QStringList staged = QDir(m_folder).entryList({QStringLiteral(".%1.jpg.*").arg(failing)},
                                                        QDir::Files | QDir::Hidden);
    QCOMPARE(staged.size(), 1);
    QVERIFY(QFile::remove(m_folder + "/" + staged[0]));
    try {
        files.Commit();
        QFAIL("no error");
    } catch (const SaveError& e) {
        QCOMPARE(e.path(), tile(failing));
        QCOMPARE(e.description(), platform::systemErrorText(ENOENT));
    }
    QVERIFY(snapshot(m_folder) == before);
}

// A cut that crashed left its hidden files; the next cut removes them, but
// not those of a cut that is still running.
void TestWriteFaults::leftoversOfEndedCutsAreRemoved()
{
    QProcess ended;
    ended.start("true");
    QVERIFY(ended.waitForStarted());
    const qint64 gone = ended.processId();
    QVERIFY(ended.waitForFinished());
    const QString running = QStringLiteral(".3.jpg.tessarine-%1-7.new").arg(getpid());
    for (const QString& name : {QStringLiteral(".1.jpg.tessarine-%1-1.new").arg(gone),
                                QStringLiteral(".2.jpg.tessarine-%1-2.old").arg(gone), running})
        QVERIFY(QFile(m_folder + "/" + name).open(QIODevice::WriteOnly));
    platform::StagedPictures files;
    stageAll(files);
    files.Commit();
    QVERIFY(QFile::remove(m_folder + "/" + running));
    verifyNewTiles();
}

QTEST_GUILESS_MAIN(TestWriteFaults)
#include "tst_writefaults.moc"
