// Writing the nine tiles onto file systems that fail under it, and a commit
// whose rename fails at each of the nine steps.  Every fault must give a
// SaveError naming the file with a Chinese reason, leave the folder exactly
// as it was (old tiles byte for byte, nothing hidden left behind), and the
// next attempt after the fault is gone must write tiles byte for byte as
// Qt's own BMP writer does, and remove what crashed cuts left.  The cases that mount or set
// attributes need root in a private mount namespace (run-with-private-mounts.sh, which also drops
// root's overriding of file permissions, so read-only files bind).

#include "platform/StagedPictures.h"
#include "platform/SystemErrorText.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <csignal>
#include <map>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::SaveError;

namespace {

// Names and contents of everything in a folder, hidden files included.
std::map<QString, QByteArray> snapshot(const QString& folder)
{
    std::map<QString, QByteArray> entries;
    const auto filter = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QFileInfo& info : QDir(folder).entryInfoList(filter)) {
        QFile file(info.filePath());
        entries[info.fileName()] = info.isFile() && file.open(QIODevice::ReadOnly)
                                       ? file.readAll()
                                       : QByteArray("not a readable file");
    }
    return entries;
}

// Tile n: widths that need every padding of a row, and the last tiles large
// enough to be written in several pieces.
QImage tileImage(int n)
{
    QImage image(97 * n + 1, 90 * n, QImage::Format_RGB32);
    uchar* bytes = image.bits();
    for (qsizetype i = 0; i < image.sizeInBytes(); ++i)
        bytes[i] = uchar(i * 7 / 3 + n);
    return image;
}

QByteArray qtBitmap(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "bmp");
    return buffer.data();
}

bool run(const QString& program, const QStringList& arguments)
{
    return QProcess::execute(program, arguments) == 0;
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

private:
    QString tile(int n) const { return m_folder + QStringLiteral("/%1.jpg").arg(n); }

    // Stages the nine tiles; the hidden file of tile `vanish` is removed
    // before the commit, which makes its rename fail.
    std::optional<SaveError> saveAll(int vanish = 0)
    {
        try {
            platform::StagedPictures files;
            for (int n = 1; n <= 9; ++n)
                files.SavePicture(platform::Picture(tileImage(n)), tile(n));
            const auto staged = QDir(m_folder).entryList({QStringLiteral(".%1.jpg.*").arg(vanish)},
                                                         QDir::Files | QDir::Hidden);
            if (vanish && (staged.size() != 1 || !QFile::remove(m_folder + "/" + staged[0])))
                return SaveError(SaveError::FileNotFound, "staged file not found");
            files.Commit();
            return std::nullopt;
        } catch (const SaveError& e) {
            return e;
        }
    }

    const bool m_canMount = qEnvironmentVariableIsSet("TESSARINE_PRIVATE_MOUNTS") && geteuid() == 0;
    std::unique_ptr<QTemporaryDir> m_base;
    QString m_fs, m_folder;
};

void TestWriteFaults::init()
{
    m_base = std::make_unique<QTemporaryDir>();
    m_fs = m_base->filePath("fs");
    m_folder = m_fs + "/pictures";
    QVERIFY(QDir().mkdir(m_fs));
    if (m_canMount) QVERIFY(run("mount", {"-t", "tmpfs", "-o", "size=16m", "tessarine", m_fs}));
    QVERIFY(QDir().mkdir(m_folder));
}

void TestWriteFaults::cleanup()
{
    if (m_canMount) run("umount", {"--lazy", "--recursive", m_fs});
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_base.reset();
}

void TestWriteFaults::faultLeavesFolderAsItWas_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failing"); // the tile the error must name
    QTest::addColumn<int>("error");   // whose text the reason must be; 0: not a plain file
    QTest::newRow("read-only tile 3") << "read-only tile" << 3 << EACCES;
    QTest::newRow("read-only folder") << "read-only folder" << 1 << EACCES;
    QTest::newRow("tile 5 is a folder") << "folder" << 5 << EISDIR;
    QTest::newRow("tile 6 is a FIFO") << "FIFO" << 6 << 0;
    QTest::newRow("folder removed") << "removed" << 1 << ENOENT;
    QTest::newRow("file size limit: short write") << "size limit" << 1 << EFBIG;
    QTest::newRow("read-only mount") << "mount: read-only" << 1 << EROFS;
    QTest::newRow("full disk: short write") << "mount: full" << 1 << ENOSPC;
    QTest::newRow("immutable tile 4") << "mount: immutable" << 4 << EPERM;
    for (int n = 1; n <= 9; ++n) {
        QTest::addRow("rename %d of 9 fails", n) << "rename" << n << ENOENT;
        QTest::addRow("rename %d of 9 fails, no old tiles", n) << "rename, new" << n << ENOENT;
    }
}

void TestWriteFaults::faultLeavesFolderAsItWas()
{
    QFETCH(QString, fault);
    QFETCH(int, failing);
    QFETCH(int, error);
    if (fault.startsWith("mount") && !m_canMount) QSKIP("needs root in a private mount namespace");
    for (int n = 1; n <= 9 && fault != "rename, new"; ++n) {
        QFile file(tile(n));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old tile " + QByteArray::number(n)));
    }
    const QString readOnly = fault == "read-only folder" ? m_folder : tile(failing);
    const QString filler = m_fs + "/filler";
    const qint64 halfTile = qtBitmap(tileImage(1)).size() / 2;
    rlimit original{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &original), 0);
    if (fault.startsWith("read-only")) {
        QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
        if (access(QFile::encodeName(readOnly).constData(), W_OK) == 0)
            QSKIP("permissions do not bind: run through run-unprivileged.sh");
    }
    if (fault == "folder") QVERIFY(QFile::remove(tile(failing)) && QDir().mkdir(tile(failing)));
    if (fault == "FIFO")
        QVERIFY(QFile::remove(tile(failing)) &&
                mkfifo(QFile::encodeName(tile(failing)).constData(), 0644) == 0);
    if (fault == "removed") QVERIFY(QDir(m_folder).removeRecursively());
    if (fault == "mount: read-only")
        QVERIFY(run("mount", {"--bind", "-o", "ro", m_folder, m_folder}));
    if (fault == "mount: immutable") QVERIFY(run("chattr", {"+i", tile(failing)}));
    if (fault == "mount: full") { // room for half of tile 1: its first write stops part-way
        QFile file(filler);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (file.write(QByteArray(4096, 'f')) == 4096) {
        }
        QVERIFY(file.resize(file.size() - halfTile));
    }
    if (fault == "size limit") {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit half{rlim_t(halfTile), original.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &half), 0);
    }
    const auto before = snapshot(m_folder);

    const std::optional<SaveError> failure = saveAll(fault.startsWith("rename") ? failing : 0);
    setrlimit(RLIMIT_FSIZE, &original);
    QVERIFY(failure);
    QCOMPARE(failure->path(), tile(failing));
    const QString why = failure->description();
    QVERIFY2(!why.isEmpty() && !why.contains(QRegularExpression("[A-Za-z]")), qPrintable(why));
    if (error != 0) QCOMPARE(why, platform::systemErrorText(error));
    QVERIFY(snapshot(m_folder) == before);

    if (fault.startsWith("read-only"))
        QVERIFY(QFile::setPermissions(readOnly,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (fault == "folder") QVERIFY(QDir().rmdir(tile(failing)));
    if (fault == "FIFO") QVERIFY(QFile::remove(tile(failing)));
    if (fault == "removed") QVERIFY(QDir().mkdir(m_folder));
    if (fault == "mount: read-only") QVERIFY(run("umount", {m_folder}));
    if (fault == "mount: immutable") QVERIFY(run("chattr", {"-i", tile(failing)}));
    if (fault == "mount: full") QVERIFY(QFile::remove(filler));
    // Hidden files of a cut that crashed go with the next save (no process
    // has the largest process id); those of a cut still running stay.
    const QString ended = m_folder + QStringLiteral("/.1.jpg.tessarine-%1-1.new").arg(INT_MAX);
    const QString running = m_folder + QStringLiteral("/.2.jpg.tessarine-%1-1.old").arg(getpid());
    QVERIFY(QFile(ended).open(QIODevice::WriteOnly) && QFile(running).open(QIODevice::WriteOnly));
    const std::optional<SaveError> retry = saveAll();
    QVERIFY2(!retry, retry ? qPrintable(retry->description()) : "");
    QVERIFY(!QFile::exists(ended) && QFile::remove(running));
    const auto after = snapshot(m_folder);
    QCOMPARE(after.size(), std::size_t(9));
    for (int n = 1; n <= 9; ++n)
        QVERIFY2(after.at(QStringLiteral("%1.jpg").arg(n)) == qtBitmap(tileImage(n)), "tile bytes");
}

QTEST_GUILESS_MAIN(TestWriteFaults)
#include "tst_writefaults.moc"
