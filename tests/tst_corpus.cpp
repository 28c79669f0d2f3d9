// Real broken and odd pictures from Debian's test packages, loaded through
// LoadPicture and the loading handlers.  Every file must give a clean
// refusal or a picture of the size its header states; nothing may crash,
// hang or leak.  The loading runs in a child process (corpus_walker) that
// reports file by file, so a crash or a hang is pinned on one file, the
// child is restarted after it, and the rest of the corpus is still tried.

#include <QDirIterator>
#include <QHash>
#include <QProcess>
#include <QTest>

namespace {

// Longer than any sane picture takes under the sanitizers.
constexpr int PerFileMs = 30000;
constexpr qsizetype BatchSize = 200;

const QStringList PictureSuffixes = {"png", "jpg", "jpeg", "gif",  "bmp",  "ico",  "cur",
                                     "ani", "tif", "tiff", "webp", "tga",  "ppm",  "pgm",
                                     "pbm", "pnm", "xpm",  "xbm",  "qtif", "icns", "wbmp"};

struct Result
{
    QString path;
    QString outcome;
    QSize loaded;
    QSize stated;
    qint64 ms = 0;
};

// Files whose first header is not the one that counts.
const QHash<QString, QSize> OwnSize = {
    // The icon directory says 256x256 (written as 0x0), the PNG inside it
    // 32x32; the picture is the PNG.
    {"afl/testcases/images/ico/not_kitty.ico", QSize(32, 32)},
};

QSize sizeThatCounts(const QString& path, QSize stated)
{
    for (auto it = OwnSize.begin(); it != OwnSize.end(); ++it) {
        if (path.endsWith(it.key())) return it.value();
    }
    return stated;
}

QStringList pictureFiles(const QString& folder, bool recursive, const QStringList& skipped)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString relative = QDir(folder).relativeFilePath(info.filePath());
        const bool skip = std::any_of(skipped.begin(), skipped.end(), [&](const QString& s) {
            return relative.startsWith(s + QLatin1Char('/'));
        });
        if (!skip && PictureSuffixes.contains(info.suffix().toLower())) files << info.filePath();
    }
    files.sort();
    return files;
}

QSize parseSize(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split('x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

// Runs the walker over `files` in batches, restarting it after a file that
// crashed or hung it.
QList<Result> walk(const QStringList& files)
{
    QList<Result> results;
    qsizetype next = 0;
    while (next < files.size()) {
        const QStringList batch = files.mid(next, BatchSize);
        QProcess child;
        child.start(QStringLiteral(TESSARINE_CORPUS_WALKER), batch);
        if (!child.waitForStarted()) {
            results.append({batch.first(), "wrong: walker did not start", {}, {}, 0});
            return results;
        }
        qsizetype done = 0;
        bool hung = false;
        QElapsedTimer quietFor;
        quietFor.start();
        const auto readLines = [&] {
            while (done < batch.size() && child.canReadLine()) {
                const QList<QByteArray> f = child.readLine().trimmed().split('\t');
                results.append({batch.at(done), QString::fromUtf8(f.value(0)),
                                parseSize(f.value(1)), parseSize(f.value(2)),
                                f.value(3).toLongLong()});
                ++done;
                quietFor.restart();
            }
        };
        while (done < batch.size() && child.state() != QProcess::NotRunning) {
            child.waitForReadyRead(250);
            readLines();
            if (done < batch.size() && quietFor.elapsed() > PerFileMs) {
                hung = true;
                child.kill();
                break;
            }
        }
        child.waitForFinished(PerFileMs);
        readLines();
        const QString log = QString::fromLocal8Bit(child.readAllStandardError()).right(4000);
        if (done < batch.size()) {
            results.append({batch.at(done),
                            hung ? QStringLiteral("hung: no answer in %1 s").arg(PerFileMs / 1000)
                                 : QStringLiteral("crashed:\n") + log,
                            {},
                            {},
                            0});
            ++done;
        } else if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            // All files answered, and then the exit failed: the leak check.
            results.append(
                {batch.last(), QStringLiteral("wrong: walker ended badly:\n") + log, {}, {}, 0});
        }
        next += done;
    }
    return results;
}

} // namespace

class TestCorpus : public QObject
{
    Q_OBJECT

private slots:
    void brokenAndOddPictures_data();
    void brokenAndOddPictures();
    void cleanupTestCase();

private:
    int m_tried = 0;
    int m_loaded = 0;
    int m_refused = 0;
};

void TestCorpus::brokenAndOddPictures_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("recursive");
    QTest::addColumn<QStringList>("skipped");
    const QString sixel = "/usr/share/doc/libsixel-examples/examples/images";
    const QString pixbuf = "/usr/libexec/installed-tests/gdk-pixbuf";
    QTest::newRow("PngSuite corrupted") << sixel + "/pngsuite/corrupted" << false << QStringList();
    QTest::newRow("PngSuite and sixel samples")
        << sixel << true << QStringList("pngsuite/corrupted");
    QTest::newRow("pixbuf fail") << pixbuf + "/test-images/fail" << false << QStringList();
    QTest::newRow("pixbuf randomly modified")
        << pixbuf + "/test-images/randomly-modified" << false << QStringList();
    QTest::newRow("pixbuf GIF suite")
        << pixbuf + "/test-images/gif-test-suite" << false << QStringList();
    QTest::newRow("pixbuf reference pictures")
        << pixbuf + "/test-images/reftests" << true << QStringList();
    QTest::newRow("pixbuf large, truncated, rotated") << pixbuf << false << QStringList();
    QTest::newRow("x/image test data")
        << "/usr/share/gocode/src/golang.org/x/image" << true << QStringList({"font", "example"});
    QTest::newRow("afl seed pictures")
        << "/usr/share/doc/afl++-doc/afl/testcases/images" << true << QStringList();
}

void TestCorpus::brokenAndOddPictures()
{
    QFETCH(QString, folder);
    QFETCH(bool, recursive);
    QFETCH(QStringList, skipped);
    const QStringList files = pictureFiles(folder, recursive, skipped);
    if (files.isEmpty())
        QSKIP(qPrintable(folder + " is not there; tools/packages.sh installs the corpus packages"));

    QStringList faults;
    int loaded = 0, refused = 0;
    Result slowest;
    for (const Result& r : walk(files)) {
        if (r.ms >= slowest.ms) slowest = r;
        if (r.outcome == "refused") {
            ++refused;
        } else if (r.outcome == "loaded" && r.loaded == sizeThatCounts(r.path, r.stated)) {
            ++loaded;
        } else if (r.outcome == "loaded") {
            faults << QStringLiteral("%1: loaded %2x%3 where the header states %4x%5")
                          .arg(r.path)
                          .arg(r.loaded.width())
                          .arg(r.loaded.height())
                          .arg(r.stated.width())
                          .arg(r.stated.height());
        } else {
            faults << r.path + ": " + r.outcome;
        }
    }
    qInfo("%s: %lld tried, %d loaded, %d refused, %lld faulty; slowest %s (%lld ms)",
          QTest::currentDataTag(), static_cast<long long>(files.size()), loaded, refused,
          static_cast<long long>(faults.size()), qPrintable(slowest.path),
          static_cast<long long>(slowest.ms));
    m_tried += int(files.size());
    m_loaded += loaded;
    m_refused += refused;
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void TestCorpus::cleanupTestCase()
{
    qInfo("corpus: %d tried, %d loaded, %d refused", m_tried, m_loaded, m_refused);
}

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
