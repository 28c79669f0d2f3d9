// libFuzzer target for the loading path: every input is written to a file
// and dropped on the window, so it goes through the same handler, decoder
// and preview drawing as a person's picture.  Besides what the sanitizers
// catch, the outcome must be one of the two the window knows: the refusal
// with nothing loaded, or a loaded picture in the pixel format that cutting
// expects.

#include "app/Form1.h"
#include "platform/ModalHost.h"
#include "platform/RuntimeError.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

class RecordingHost final : public platform::ModalHost
{
public:
    void messageBox(const QString& prompt, int buttons, const QString& title,
                    const QString&) override
    {
        ++m_boxes;
        m_refused = prompt == QStringLiteral("图片格式错误") && buttons == 16 &&
                    title == QStringLiteral("警告：");
    }
    QString chooseFileToOpen() override { return QString(); }
    void reportUntrapped(const platform::RuntimeError& error) override
    {
        std::fprintf(stderr, "untrapped run-time error: %s\n", error.what());
        std::abort();
    }

    void reset()
    {
        m_boxes = 0;
        m_refused = false;
    }
    [[nodiscard]] int boxes() const { return m_boxes; }
    [[nodiscard]] bool refused() const { return m_refused; }

private:
    int m_boxes = 0;
    bool m_refused = false;
};

constexpr qint64 MaxPixels = 16 * 1024 * 1024;

RecordingHost* g_host = nullptr;
Form1* g_form = nullptr;
QString g_input;

void fail(const char* what)
{
    std::fprintf(stderr, "loading gave an impossible outcome: %s\n", what);
    std::abort();
}

// Readers warn on stderr about what they meet in broken files; at thousands
// of inputs a second that drowns libFuzzer's own report.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(quiet);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt keeps the argument count by reference and may take arguments it
    // knows out of the list, so it gets its own rather than libFuzzer's.
    static int argc = 1;
    static char name[] = "fuzz_loading";
    static char* argv[] = {name, nullptr};
    // Never destroyed: libFuzzer leaves through exit(), and the window must
    // not be torn down under it.  They stay reachable, so no leak is reported.
    new QApplication(argc, argv);
    g_host = new RecordingHost;
    platform::setModalHost(g_host);
    g_form = new Form1;
    g_form->Start();
    const QString folder = QDir::temp().filePath(
        QStringLiteral("tessarine-fuzz-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(folder);
    g_input = folder + QStringLiteral("/picture");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        QFile file(g_input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            fail("the input could not be written to a file");
    }
    // A header claiming a huge picture in a few bytes is accepted by the
    // decoder, which then fills up to 1 GiB for seconds (the expected failure
    // in tst_hostile).  Such inputs would take over the run at a few
    // executions a second, so they are kept out of the corpus.
    QImageReader probe(g_input);
    probe.setDecideFormatFromContent(true);
    const QSize claimed = probe.size();
    if (claimed.isValid() && qint64(claimed.width()) * claimed.height() > MaxPixels) return -1;

    g_host->reset();
    platform::DataObject dropped(QStringList{g_input});
    g_form->p1_OLEDragDrop(dropped);

    const bool loaded = g_form->Picture1.Picture().Handle() != 0;
    if (g_host->boxes() > 1) fail("more than one message box");
    if (g_host->boxes() == 1 && (!g_host->refused() || loaded))
        fail("a message other than the refusal, or a picture kept after it");
    if (g_host->boxes() == 0) {
        const platform::Picture picture = g_form->Picture3.Picture();
        const QImage& image = picture.image();
        if (!loaded || image.isNull() || image.format() != QImage::Format_RGB32)
            fail("no message, yet no picture in the format cutting expects");
    }
    return 0;
}
