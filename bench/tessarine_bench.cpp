// The performance benchmark.  It drives the window's real handlers headless
// (the open dialog answered with the picture, message boxes swallowed), on
// photo-like pictures it makes itself, and times the nearest command-line
// tools on the same files in the same run.  See bench/run.sh.
//
//   tessarine_bench report DIR [RUNS]  everything below, as a markdown table
//   tessarine_bench generate DIR       only make the pictures (kept if present)
//   tessarine_bench handlers FILE RUNS load and cut in one process, per run
//   tessarine_bench once FILE          one load and cut in a fresh process
//   tessarine_bench shown T0           start, show the window, print the time
//                                      since T0 (CLOCK_MONOTONIC, ns)

#include "app/Form1.h"
#include "app/TileGeometry.h"
#include "platform/Application.h"
#include "platform/ImageDecoder.h"
#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const QString Done = QStringLiteral("图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可");

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "tessarine_bench: %s\n", qPrintable(why));
    std::exit(2);
}

// Answers the open dialog with the picture under test and swallows message
// boxes, remembering anything that is not the "done" message.
class BenchHost final : public platform::ModalHost
{
public:
    BenchHost() : m_previous(platform::setModalHost(this)) {}
    ~BenchHost() override { platform::setModalHost(m_previous); }
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    void messageBox(const QString& prompt, int, const QString&, const QString& detail) override
    {
        if (prompt == Done)
            ++m_done;
        else
            m_problems << prompt + QLatin1Char(' ') + detail;
    }
    QString chooseFileToOpen() override { return m_file; }
    void reportUntrapped(const platform::RuntimeError& error) override
    {
        m_problems << error.description();
    }

    QString m_file;
    int m_done = 0;
    QStringList m_problems;

private:
    platform::ModalHost* m_previous;
};

void removeTiles(const QString& folder)
{
    for (int n = 1; n <= tiles::TileCount; ++n)
        QFile::remove(folder + QLatin1Char('/') + tiles::tileFileName(n));
}

void checkClean(const BenchHost& host)
{
    if (!host.m_problems.isEmpty())
        fail(host.m_problems.join(QLatin1Char('\n')));
}

// ---- pictures --------------------------------------------------------------

// Smooth gradients and soft waves, with grain that is mostly in the
// brightness, as a camera's: JPEG sizes come out like those of photographs
// (a few bits a pixel at quality 90), which a flat colour would not give.
QImage photoLike(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    constexpr double tau = 2 * std::numbers::pi;
    std::array<std::vector<float>, 3> across, down;
    std::vector<float> waveX(width), waveY(height);
    for (int c = 0; c < 3; ++c) {
        across[c].resize(width);
        down[c].resize(height);
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            across[c][x] = float(80 * u + 40 * std::sin(tau * u * (1.3 + 0.4 * c) + c));
        }
        for (int y = 0; y < height; ++y) {
            const double v = double(y) / height;
            down[c][y] = float(60 * v + 35 * std::cos(tau * v * (0.9 + 0.3 * c) + 2 * c));
        }
    }
    for (int x = 0; x < width; ++x)
        waveX[x] = float(std::sin(tau * 7.0 * x / width) + 0.5 * std::sin(tau * 41.0 * x / width));
    for (int y = 0; y < height; ++y)
        waveY[y] = float(std::cos(tau * 5.0 * y / height) + 0.5 * std::sin(tau * 29.0 * y / height));

    quint32 state = seed | 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 r = next();
            const float grain = float(int(r & 31) - 16) + float(int((r >> 5) & 7) - 4);
            const float texture = 28 * waveX[x] * waveY[y];
            int v[3];
            for (int c = 0; c < 3; ++c) {
                const float colourGrain = float(int((r >> (8 + 4 * c)) & 7) - 4);
                v[c] = std::clamp(int(50 + across[c][x] + down[c][y] + texture + grain +
                                      colourGrain),
                                  0, 255);
            }
            row[x] = qRgb(v[0], v[1], v[2]);
        }
    }
    return image;
}

struct Subject
{
    const char* name;
    const char* file; // inside its own folder, as tiles are written beside it
    int width;
    int height;
    const char* format;
};

const std::array<Subject, 4> Subjects{{
    {"JPEG 12 MP", "jpeg12/photo.jpg", 4000, 3000, "jpeg"},
    {"JPEG 24 MP", "jpeg24/photo.jpg", 6000, 4000, "jpeg"},
    {"JPEG 48 MP", "jpeg48/photo.jpg", 8000, 6000, "jpeg"},
    {"PNG 24 MP", "png24/photo.png", 6000, 4000, "png"},
}};

void generate(const QString& dir)
{
    quint32 seed = 12345;
    for (const Subject& subject : Subjects) {
        const QString path = dir + QLatin1Char('/') + QString::fromLatin1(subject.file);
        ++seed;
        if (QFileInfo::exists(path))
            continue;
        QDir().mkpath(QFileInfo(path).path());
        std::fprintf(stderr, "making %s\n", qPrintable(path));
        QImageWriter writer(path, subject.format);
        if (QByteArray(subject.format) == "jpeg")
            writer.setQuality(90);
        if (!writer.write(photoLike(subject.width, subject.height, seed)))
            fail(path + QStringLiteral(": ") + writer.errorString());
    }
}

// ---- the handlers, in process -----------------------------------------------

int handlers(int argc, char** argv, const QString& path, int runs)
{
    platform::Application application(argc, argv, QStringLiteral("Tessarine"));
    BenchHost host;
    host.m_file = path;
    Form1 form;
    form.Start();
    QCoreApplication::processEvents();
    const QString folder = QFileInfo(path).path();

    // The decoder alone, for comparison with djpeg.
    for (int run = 0; run <= runs; ++run) {
        const qint64 t0 = nowNs();
        const platform::DecodedPicture decoded = platform::decodePictureFile(path);
        const qint64 t1 = nowNs();
        if (decoded.image.isNull())
            fail(path + QStringLiteral(": ") + decoded.error);
        if (run > 0) // the first warms the caches
            std::printf("decode %.3f\n", (t1 - t0) / 1e6);
    }
    for (int run = 0; run <= runs; ++run) {
        removeTiles(folder);
        const qint64 t0 = nowNs();
        form.Command1.press();
        QCoreApplication::processEvents(); // the preview reaches the screen
        const qint64 t1 = nowNs();
        form.Command2.press();
        const qint64 t2 = nowNs();
        checkClean(host);
        if (host.m_done != run + 1)
            fail(QStringLiteral("the tiles were not written"));
        if (run > 0)
            std::printf("load %.3f\ncut %.3f\n", (t1 - t0) / 1e6, (t2 - t1) / 1e6);
    }
    removeTiles(folder);
    return 0;
}

// This process's own high-water mark.  The rusage a parent gets can also
// hold the parent's size, as the child started inside its memory (vfork).
QString peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return QString::fromLatin1(line.mid(6).trimmed().split(' ').front());
        }
    }
    fail(QStringLiteral("no VmHWM in /proc/self/status"));
}

int once(int argc, char** argv, const QString& path)
{
    platform::Application application(argc, argv, QStringLiteral("Tessarine"));
    BenchHost host;
    host.m_file = path;
    Form1 form;
    form.Start();
    form.Command1.press();
    QCoreApplication::processEvents();
    form.Command2.press();
    checkClean(host);
    std::printf("peak %s\n", peakResidentKiB().toLatin1().constData());
    return host.m_done == 1 ? 0 : 1;
}

int shown(int argc, char** argv, qint64 t0)
{
    platform::Application application(argc, argv, QStringLiteral("Tessarine"));
    Form1 form;
    form.Start();
    QWindow* window = form.widget()->windowHandle();
    while (!window || !window->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        window = form.widget()->windowHandle();
    }
    QCoreApplication::processEvents(); // the first paint
    std::printf("%.3f\n", (nowNs() - t0) / 1e6);
    std::fflush(stdout);
    return 0;
}

// ---- other processes ---------------------------------------------------------

struct Outcome
{
    double ms = 0;
    double cpuMs = 0; // user and system time
    std::string out;
};

// Runs argv as a fresh process, from just before it is spawned to its end.
Outcome spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        fail(QStringLiteral("pipe"));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);

    Outcome outcome;
    const qint64 t0 = nowNs();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0)
        fail(QStringLiteral("cannot start %1").arg(QString::fromStdString(args[0])));
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        outcome.out.append(buffer, std::size_t(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    outcome.ms = (nowNs() - t0) / 1e6;
    outcome.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(QStringLiteral("failed: %1").arg(QString::fromStdString(args.back())));
    return outcome;
}

Outcome shell(const std::string& script)
{
    return spawn({"/bin/sh", "-c", script});
}

// Quoted for the shell; the paths are our own and hold no quotes.
std::string q(const QString& s)
{
    return QStringLiteral("'%1'").arg(s).toStdString();
}

std::map<std::string, std::vector<double>> parse(const std::string& text)
{
    std::map<std::string, std::vector<double>> values;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        const std::size_t space = line.find(' ');
        if (space != std::string::npos)
            values[line.substr(0, space)].push_back(std::stod(line.substr(space + 1)));
        at = end + 1;
    }
    return values;
}

struct Row
{
    const Subject* subject;
    double fileMiB;
    double decode, load, cut, process, processCpu, peak, limit;
    std::optional<double> djpegBmp, djpegBmpCpu, djpegNull;
    double convert, vipsEach, vipsOnce;
};

QString ms(double value)
{
    return QString::number(value, 'f', 0);
}

QString ratio(double a, double b)
{
    return QString::number(a / b, 'f', 2) + QLatin1Char('x');
}

int report(const QString& self, const QString& dir, int runs)
{
    // In a process of its own, so that this one stays small.
    spawn({self.toStdString(), "generate", dir.toStdString()});
    const QString out = dir + QStringLiteral("/out");
    QDir().mkpath(out);
    std::vector<Row> rows;

    for (const Subject& subject : Subjects) {
        const QString path = dir + QLatin1Char('/') + QString::fromLatin1(subject.file);
        const QString folder = QFileInfo(path).path();
        std::fprintf(stderr, "timing %s\n", subject.name);
        Row row{};
        row.subject = &subject;
        row.fileMiB = QFileInfo(path).size() / 1048576.0;

        const int w = subject.width, h = subject.height, tw = w / 3, th = h / 3;
        std::string vipsEach, vipsOnce = "vips copy " + q(path) + " " + q(out + "/whole.v");
        for (int n = 0; n < 9; ++n) {
            const std::string area =
                QStringLiteral(" %1 %2 %3 %4").arg((n % 3) * tw).arg((n / 3) * th).arg(tw).arg(th)
                    .toStdString();
            const std::string target = q(out + QStringLiteral("/vips_%1.ppm").arg(n + 1));
            vipsEach += "vips extract_area " + q(path) + " " + target + area + " && ";
            vipsOnce += " && vips extract_area " + q(out + "/whole.v") + " " + target + area;
        }
        vipsEach += "true";
        const std::string clean = "rm -f " + q(out) + "/* " + q(folder) + "/[1-9].jpg";

        // Every measurement is taken once a round, the rounds one after the
        // other, so that a busy spell of the machine touches them all alike.
        std::vector<double> decode, load, cut, process, processCpu, peak, djpegBmp, djpegBmpCpu,
            djpegNull, convert, each, onceLoad;
        const bool jpeg = QByteArray(subject.format) == "jpeg";
        for (int run = 0; run <= runs; ++run) {
            const bool counted = run > 0; // the first run warms the caches
            auto add = [counted](std::vector<double>& to, double value) {
                if (counted)
                    to.push_back(value);
            };
            shell(clean);
            const auto inProcess =
                parse(spawn({self.toStdString(), "handlers", path.toStdString(), "1"}).out);
            add(decode, inProcess.at("decode").front());
            add(load, inProcess.at("load").front());
            add(cut, inProcess.at("cut").front());
            const Outcome ours = spawn({self.toStdString(), "once", path.toStdString()});
            add(process, ours.ms);
            add(processCpu, ours.cpuMs);
            add(peak, parse(ours.out).at("peak").front() / 1024);
            if (jpeg) {
                const Outcome floor = spawn({"djpeg", "-bmp", "-outfile",
                                             (out + "/djpeg.bmp").toStdString(),
                                             path.toStdString()});
                add(djpegBmp, floor.ms);
                add(djpegBmpCpu, floor.cpuMs);
                add(djpegNull,
                    spawn({"djpeg", "-outfile", "/dev/null", path.toStdString()}).ms);
            }
            add(convert, spawn({"/usr/bin/convert", path.toStdString(), "-crop", "3x3@", "+repage",
                                ("BMP3:" + out + "/convert_%d.bmp").toStdString()})
                             .ms);
            add(each, shell(vipsEach).ms);
            add(onceLoad, shell(vipsOnce).ms);
        }
        shell(clean);
        row.decode = median(decode);
        row.load = median(load);
        row.cut = median(cut);
        row.process = median(process);
        row.processCpu = median(processCpu);
        row.peak = median(peak);
        row.limit = double(subject.width) * subject.height * 4 / 1048576.0 + 60 * 1e6 / 1048576.0;
        if (jpeg) {
            row.djpegBmp = median(djpegBmp);
            row.djpegBmpCpu = median(djpegBmpCpu);
            row.djpegNull = median(djpegNull);
        }
        row.convert = median(convert);
        row.vipsEach = median(each);
        row.vipsOnce = median(onceLoad);
        rows.push_back(row);
    }

    std::vector<double> startup;
    for (int run = 0; run <= 10; ++run) {
        const qint64 t0 = nowNs();
        const Outcome o = spawn({self.toStdString(), "shown", std::to_string(t0)});
        if (run > 0)
            startup.push_back(std::stod(o.out));
    }

    const QString dash = QStringLiteral("—");
    QString text;
    text += QStringLiteral(
        "| Picture | File | Decode | Load (Command1) | Cut (Command2) | Load + cut | "
        "Process | Peak RSS (limit) |\n|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows)
        text += QStringLiteral("| %1 %2x%3 | %4 MiB | %5 ms | %6 ms | %7 ms | %8 ms | %9 ms | "
                               "%10 MiB (%11) |\n")
                    .arg(QString::fromLatin1(r.subject->name))
                    .arg(r.subject->width)
                    .arg(r.subject->height)
                    .arg(QString::number(r.fileMiB, 'f', 1), ms(r.decode), ms(r.load),
                         ms(r.cut), ms(r.load + r.cut), ms(r.process),
                         QString::number(r.peak, 'f', 0), QString::number(r.limit, 'f', 0));
    text += QStringLiteral("\n| Picture | djpeg -bmp | djpeg to /dev/null | convert -crop 3x3@ "
                           "| vips, 9 x extract_area | vips, copy to .v + 9 x extract_area | "
                           "Load / djpeg null | Load + cut / djpeg -bmp | Process / djpeg -bmp "
                           "| Process / convert | Process / best vips | CPU time: process / "
                           "djpeg -bmp |\n"
                           "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        const double vips = std::min(r.vipsEach, r.vipsOnce);
        text += QStringLiteral("| %1 | %2 | %3 | %4 ms | %5 ms | %6 ms | %7 | %8 | %9 | %10 | "
                               "%11 | %12 |\n")
                    .arg(QString::fromLatin1(r.subject->name),
                         r.djpegBmp ? ms(*r.djpegBmp) + QStringLiteral(" ms") : dash,
                         r.djpegNull ? ms(*r.djpegNull) + QStringLiteral(" ms") : dash,
                         ms(r.convert), ms(r.vipsEach), ms(r.vipsOnce),
                         r.djpegNull ? ratio(r.load, *r.djpegNull) : dash,
                         r.djpegBmp ? ratio(r.load + r.cut, *r.djpegBmp) : dash,
                         r.djpegBmp ? ratio(r.process, *r.djpegBmp) : dash)
                    .arg(ratio(r.process, r.convert), ratio(r.process, vips),
                         r.djpegBmpCpu ? ratio(r.processCpu, *r.djpegBmpCpu) : dash);
    }
    text += QStringLiteral("\nStart-up to a shown window: %1 ms (median of %2)\n")
                .arg(QString::number(median(startup), 'f', 1))
                .arg(startup.size());
    std::printf("%s", text.toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    auto arg = [&](int i) {
        if (argc <= i)
            fail(QStringLiteral("usage: see the top of bench/tessarine_bench.cpp"));
        return QString::fromLocal8Bit(argv[i]);
    };
    if (mode == QStringLiteral("handlers"))
        return handlers(argc, argv, QFileInfo(arg(2)).absoluteFilePath(), arg(3).toInt());
    if (mode == QStringLiteral("once"))
        return once(argc, argv, QFileInfo(arg(2)).absoluteFilePath());
    if (mode == QStringLiteral("shown"))
        return shown(argc, argv, arg(2).toLongLong());

    QCoreApplication application(argc, argv);
    if (mode == QStringLiteral("generate")) {
        generate(QFileInfo(arg(2)).absoluteFilePath());
        return 0;
    }
    if (mode == QStringLiteral("report"))
        return report(QCoreApplication::applicationFilePath(), QFileInfo(arg(2)).absoluteFilePath(),
                      argc > 3 ? std::max(5, arg(3).toInt()) : 5);
    fail(QStringLiteral("usage: see the top of bench/tessarine_bench.cpp"));
}
