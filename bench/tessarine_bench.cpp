// The performance benchmark.  It drives the window's real handlers headless,
// with the stand-in for the person at the screen answering the open dialog,
// and times the nearest command-line tools on the same pictures in the same
// rounds.  bench/run.sh makes the pictures, builds and runs the report.
//
//   tessarine_bench report RUNS PICTURE...  the markdown tables
//   tessarine_bench inside PICTURE          decode, load and cut, once warm, then
//                                           the cut's steps timed one by one
//   tessarine_bench process PICTURE [again] load and cut in a fresh process,
//                                           then (again) drop it once more;
//                                           prints the peak resident size
//   tessarine_bench shown T0                start, show the window, print the
//                                           time since T0 (steady clock, ns)

#include "app/Form1.h"
#include "app/TileGeometry.h"
#include "platform/Application.h"
#include "platform/DataObject.h"
#include "platform/ImageDecoder.h"
#include "platform/StagedPictures.h"
#include "support/FakeModalHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

namespace {

const QString Done = QStringLiteral("图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可");

// The steady clock is the system's monotonic clock, the same in every
// process, so a child can measure from a moment its parent took.
qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double msSince(qint64 t0)
{
    return double(nowNs() - t0) / 1e6;
}

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "tessarine_bench: %s\n", qPrintable(why));
    std::exit(2);
}

// A run that showed any message other than the one expected (or an error
// report) measured something else: a failed load is fast.
void expectMessages(FakeModalHost& host, const QStringList& expected)
{
    QStringList prompts; // the boxes' own texts, after their buttons and titles
    for (const QString& box : host.boxes)
        prompts << box.section(QLatin1Char(' '), 2);
    if (prompts != expected || !host.untrapped.isEmpty())
        fail(QStringLiteral("unexpected outcome: ") +
             (host.untrapped + host.boxes + host.details).join(QStringLiteral("; ")));
    host.boxes.clear();
    host.details.clear();
}

void removeTiles(const QString& folder)
{
    for (int n = 1; n <= tiles::TileCount; ++n)
        QFile::remove(folder + tiles::tileFileName(n));
}

// ---- in the measured process -----------------------------------------------

// Loads through the open dialog: the dialog answers at once, so the time is
// the decode and the preview, which reaches the (offscreen) screen before
// the clock stops.
double load(Form1& form, FakeModalHost& host, const QString& path)
{
    host.choices << path;
    const qint64 t0 = nowNs();
    form.Command1_Click();
    QCoreApplication::processEvents();
    const double ms = msSince(t0);
    expectMessages(host, {});
    return ms;
}

double cut(Form1& form, FakeModalHost& host)
{
    removeTiles(form.SourceFolder);
    const qint64 t0 = nowNs();
    form.Command2_Click();
    const double ms = msSince(t0);
    expectMessages(host, {Done});
    return ms;
}

// Where a cut's time goes: the cut once more, the handler's own steps timed
// one by one: drawing the nine tiles, writing them (each file's write-back
// started), and the commit that syncs them and puts them in place.
void cutInSteps(Form1& form)
{
    using tiles::third;
    double drawMs = 0, writeMs = 0;
    form.Picture1.setWidth(third(form.Picture3.ScaleWidth()));
    form.Picture1.setHeight(third(form.Picture3.ScaleHeight()));
    platform::StagedPictures files;
    for (int n = 1; n <= tiles::TileCount; ++n) {
        const tiles::Rect source =
            tiles::tileSource(n, form.Picture3.ScaleWidth(), form.Picture3.ScaleHeight());
        qint64 t0 = nowNs();
        form.Picture1.PaintPicture(form.Picture3.Image(), 0, 0, form.Picture1.Width(),
                                   form.Picture1.Height(), source.x, source.y, source.width,
                                   source.height);
        drawMs += msSince(t0);
        t0 = nowNs();
        files.SavePicture(form.Picture1.Image(), form.SourceFolder + tiles::tileFileName(n));
        writeMs += msSince(t0);
    }
    const qint64 t0 = nowNs();
    files.Commit();
    std::printf("draw %.3f\nwrite %.3f\ncommit %.3f\n", drawMs, writeMs, msSince(t0));
    form.Picture1.Cls();
}

// One warm-up round, so that plugins, fonts and the allocator's first pages
// are not counted; then one measured round.
int inside(const QString& path)
{
    FakeModalHost host;
    Form1 form;
    form.Start();
    QCoreApplication::processEvents();
    double decodeMs = 0, loadMs = 0, cutMs = 0;
    // The decoder alone, before the window holds any picture: as the window
    // lets its old picture go before decoding the next.
    for (int round = 0; round < 2; ++round) {
        const qint64 t0 = nowNs();
        const platform::DecodedPicture decoded = platform::decodePictureFile(path);
        decodeMs = msSince(t0);
        if (decoded.image.isNull()) fail(path + QStringLiteral(": ") + decoded.error);
    }
    for (int round = 0; round < 2; ++round) {
        loadMs = load(form, host, path);
        cutMs = cut(form, host);
    }
    removeTiles(form.SourceFolder);
    cutInSteps(form);
    removeTiles(form.SourceFolder);
    std::printf("decode %.3f\nload %.3f\ncut %.3f\n", decodeMs, loadMs, cutMs);
    return 0;
}

// The high-water mark of this process's own memory.  The peak that the
// parent could read from the child's resource usage may include the
// parent's size, as the child began as a copy of it.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
        }
    }
    fail(QStringLiteral("no VmHWM in /proc/self/status"));
}

// What a person does in a fresh program: choose, cut; with `again`, then
// drop the same file on the preview, which replaces the picture.
int process(const QString& path, bool again)
{
    FakeModalHost host;
    Form1 form;
    form.Start();
    load(form, host, path);
    cut(form, host);
    if (again) {
        platform::DataObject dropped({path});
        form.p1_OLEDragDrop(dropped);
        QCoreApplication::processEvents();
        expectMessages(host, {});
    }
    removeTiles(form.SourceFolder);
    std::printf("peak %.1f\n", peakMiB());
    return 0;
}

int shown(qint64 t0)
{
    Form1 form;
    form.Start();
    for (QWindow* window = nullptr; !window || !window->isExposed();) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        window = form.widget()->windowHandle();
    }
    QCoreApplication::processEvents(); // the first paint
    std::printf("shown %.3f\n", msSince(t0));
    return 0;
}

// ---- the report --------------------------------------------------------------

// Runs a program to its end and returns the wall time from just before it
// is started; its "name value" lines of output go to *values.
double timed(const QString& program, const QStringList& args,
             std::map<QString, double>* values = nullptr)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 t0 = nowNs();
    child.start(program, args);
    const bool finished = child.waitForFinished(-1);
    const double ms = msSince(t0);
    if (!finished || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        fail(QStringLiteral("failed: %1 %2").arg(program, args.join(QLatin1Char(' '))));
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (values && words.size() == 2)
            (*values)[QString::fromLatin1(words[0])] = words[1].toDouble();
    }
    return ms;
}

// Collects one value a round under each name and gives their medians.
class Samples
{
public:
    void add(const QString& name, double value) { m_values[name].push_back(value); }
    [[nodiscard]] std::optional<double> median(const QString& name) const
    {
        const auto found = m_values.find(name);
        if (found == m_values.end()) return std::nullopt;
        std::vector<double> v = found->second;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    // The slowest round: a median hides a stall that comes now and then.
    [[nodiscard]] std::optional<double> worst(const QString& name) const
    {
        const auto found = m_values.find(name);
        if (found == m_values.end()) return std::nullopt;
        return *std::max_element(found->second.begin(), found->second.end());
    }

private:
    std::map<QString, std::vector<double>> m_values;
};

const QString Dash = QStringLiteral("—");

QString ms(std::optional<double> value)
{
    return value ? QString::number(*value, 'f', 0) + QStringLiteral(" ms") : Dash;
}

// The median, and the worst round after it.
QString msWorst(const Samples& s, const QString& name)
{
    const std::optional<double> worst = s.worst(name);
    return worst ? ms(s.median(name)) + QStringLiteral(" (%1)").arg(*worst, 0, 'f', 0) : Dash;
}

QString ratio(std::optional<double> a, std::optional<double> b)
{
    return a && b ? QString::number(*a / *b, 'f', 2) + QStringLiteral("×") : Dash;
}

QString mib(double value)
{
    return QString::number(value, 'f', 0) + QStringLiteral(" MiB");
}

struct Row
{
    QString name;
    double fileMiB;
    double limitMiB;
    Samples samples;
};

// Every measurement is taken once a round and the rounds follow one
// another, so a busy spell of the machine touches all of them alike.
// Round 0 warms the page cache and is not counted.
Row measure(const QString& self, const QString& path, int runs)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    const bool jpeg = reader.format() == "jpeg";
    const QImage::Format format = reader.imageFormat();
    // Where the photo is stored turned, the name says how (EXIF 6 and 8: a quarter).
    const QImageIOHandler::Transformations turn = reader.transformation();
    Row row{QStringLiteral("%1 %2 MP %3×%4%5%6")
                .arg(QString::fromLatin1(reader.format().toUpper()))
                .arg(qRound(size.width() * double(size.height()) / 1e6))
                .arg(size.width())
                .arg(size.height())
                .arg(format == QImage::Format_RGBX64 || format == QImage::Format_RGBA64
                         ? QStringLiteral(" 16-bit")
                         : QString())
                .arg(turn == QImageIOHandler::TransformationRotate90    ? QStringLiteral(", EXIF 6")
                     : turn == QImageIOHandler::TransformationRotate270 ? QStringLiteral(", EXIF 8")
                                                                        : QString()),
            double(QFileInfo(path).size()) / 1048576,
            (4.0 * size.width() * size.height() + 60e6) / 1048576,
            {}};
    std::fprintf(stderr, "timing %s\n", qPrintable(row.name));

    const QString out = QFileInfo(path).path() + QStringLiteral("/out");
    // vips decodes the picture once and writes it in square tiles a third of
    // its width across: every pixel written once, as in our nine tiles.
    const QString vipsTile = QString::number((size.width() + 2) / 3);
    const std::vector<std::pair<QString, QStringList>> peers = {
        {QStringLiteral("djpeg -bmp"),
         {QStringLiteral("djpeg"), QStringLiteral("-bmp"), QStringLiteral("-outfile"),
          out + QStringLiteral("/djpeg.bmp"), path}},
        {QStringLiteral("djpeg null"),
         {QStringLiteral("djpeg"), QStringLiteral("-outfile"), QStringLiteral("/dev/null"), path}},
        {QStringLiteral("convert"),
         {QStringLiteral("/usr/bin/convert"), path, QStringLiteral("-crop"), QStringLiteral("3x3@"),
          QStringLiteral("+repage"), QStringLiteral("BMP3:") + out + QStringLiteral("/c_%d.bmp")}},
        {QStringLiteral("vips"),
         {QStringLiteral("vips"), QStringLiteral("dzsave"), path, out + QStringLiteral("/dz"),
          QStringLiteral("--tile-size"), vipsTile, QStringLiteral("--overlap"), QStringLiteral("0"),
          QStringLiteral("--depth"), QStringLiteral("one"), QStringLiteral("--suffix"),
          QStringLiteral(".ppm")}},
    };

    for (int round = 0; round <= runs; ++round) {
        Samples discard;
        Samples& to = round > 0 ? row.samples : discard;
        std::map<QString, double> values;
        timed(self, {QStringLiteral("inside"), path}, &values);
        for (const auto& [name, value] : values)
            to.add(name, value);
        to.add(QStringLiteral("process"), timed(self, {QStringLiteral("process"), path}, &values));
        to.add(QStringLiteral("peak"), values.at(QStringLiteral("peak")));
        timed(self, {QStringLiteral("process"), path, QStringLiteral("again")}, &values);
        to.add(QStringLiteral("peak again"), values.at(QStringLiteral("peak")));
        for (const auto& [name, command] : peers) {
            if (name.startsWith(QStringLiteral("djpeg")) && !jpeg) continue;
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            to.add(name, timed(command.front(), command.mid(1)));
        }
    }
    QDir(out).removeRecursively();
    return row;
}

int report(const QString& self, int runs, const QStringList& pictures)
{
    std::vector<Row> rows;
    for (const QString& picture : pictures)
        rows.push_back(measure(self, QFileInfo(picture).absoluteFilePath(), runs));
    Samples startup;
    for (int round = 0; round <= 2 * runs; ++round) {
        std::map<QString, double> values;
        timed(self, {QStringLiteral("shown"), QString::number(nowNs())}, &values);
        if (round > 0) startup.add(QString(), values.at(QStringLiteral("shown")));
    }

    QString text = QStringLiteral(
        "| Picture | File | Decode | Load | Cut | Load + cut | Process | Peak | Peak, second load "
        "| Limit |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        const Samples& s = r.samples;
        const double peak = *s.median(QStringLiteral("peak"));
        const double again = *s.median(QStringLiteral("peak again"));
        auto overLimit = [&r](double v) {
            return v > r.limitMiB ? QStringLiteral(" (over)") : QString();
        };
        text += QStringLiteral("| %1 | %2 MiB | %3 | %4 | %5 | %6 | %7 | %8%9 | %10%11 | %12 |\n")
                    .arg(r.name, QString::number(r.fileMiB, 'f', 1), msWorst(s, "decode"),
                         msWorst(s, "load"), msWorst(s, "cut"),
                         ms(*s.median("load") + *s.median("cut")), msWorst(s, "process"), mib(peak),
                         overLimit(peak))
                    .arg(mib(again), overLimit(again), mib(r.limitMiB));
    }
    text += QStringLiteral(
        "\n| Picture | djpeg -bmp | djpeg → /dev/null | convert -crop 3x3@ | vips dzsave | "
        "Load / djpeg null (goal ≤ 1.15) | Load + cut / djpeg -bmp (goal ≤ 1.00) | "
        "Process / convert | Process / vips |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        const Samples& s = r.samples;
        const std::optional<double> loadAndCut = *s.median("load") + *s.median("cut");
        text += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |\n")
                    .arg(r.name, msWorst(s, "djpeg -bmp"), msWorst(s, "djpeg null"),
                         msWorst(s, "convert"), msWorst(s, "vips"),
                         ratio(s.median("load"), s.median("djpeg null")),
                         ratio(loadAndCut, s.median("djpeg -bmp")),
                         ratio(s.median("process"), s.median("convert")),
                         ratio(s.median("process"), s.median("vips")));
    }
    text += QStringLiteral("\n| Picture | Cut | draw the nine tiles | write them | commit (sync, "
                           "rename) |\n|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        const Samples& s = r.samples;
        text += QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
                    .arg(r.name, msWorst(s, "cut"), msWorst(s, "draw"), msWorst(s, "write"),
                         msWorst(s, "commit"));
    }
    // A turned photo against the same photo stored upright (goal: load ≤ 1.10×).
    for (const Row& turned : rows) {
        const qsizetype comma = turned.name.indexOf(QStringLiteral(", EXIF"));
        for (const Row& upright : rows) {
            if (comma < 0 || upright.name != turned.name.left(comma)) continue;
            text += QStringLiteral("\n%1: load %2 of upright (worst runs %3)")
                        .arg(turned.name,
                             ratio(turned.samples.median("load"), upright.samples.median("load")),
                             ratio(turned.samples.worst("load"), upright.samples.worst("load")));
        }
    }
    text += QStringLiteral("\n\nMedians of %1 runs after a warm-up run, the worst run in brackets, "
                           "on %2 cores (nproc). "
                           "Start-up to a shown window: %3 ms (median of %4).\n")
                .arg(runs)
                .arg(QThread::idealThreadCount())
                .arg(QString::number(*startup.median(QString()), 'f', 1))
                .arg(2 * runs);
    std::printf("%s", text.toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = argc > 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    QStringList args;
    for (int i = 2; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (mode == QStringLiteral("report")) {
        QCoreApplication application(argc, argv);
        if (args.size() < 2 || args.front().toInt() < 1)
            fail(QStringLiteral("usage: tessarine_bench report RUNS PICTURE..."));
        return report(QCoreApplication::applicationFilePath(), args.front().toInt(), args.mid(1));
    }
    platform::Application application(argc, argv, QStringLiteral("Tessarine"));
    if (mode == QStringLiteral("inside")) return inside(QFileInfo(args.front()).absoluteFilePath());
    if (mode == QStringLiteral("process"))
        return process(QFileInfo(args.front()).absoluteFilePath(),
                       args.size() > 1 && args[1] == QStringLiteral("again"));
    if (mode == QStringLiteral("shown")) return shown(args.front().toLongLong());
    fail(QStringLiteral("usage: see the top of bench/tessarine_bench.cpp"));
}
