// Child process of tst_corpus: loads each file named on the command line,
// once through LoadPicture and once through a loading handler, and prints
// one line per file as soon as it is done:
//
//     outcome <TAB> width x height loaded <TAB> width x height stated <TAB> ms
//
// where outcome is "loaded", "refused" or "wrong: <what>".  The parent reads
// the lines as they come, so a file that hangs or crashes this process is
// known by its place in the list.  The checks live in the parent.

#include "app/Form1.h"
#include "platform/PictureFiles.h"
#include "support/FakeModalHost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageReader>

#include <cstdio>
#include <cstdlib>

namespace {

const QString Refusal = QStringLiteral("图片格式错误");

// The size the file's header states, turned as the picture is shown.
QSize statedSize(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QSize size = reader.size();
    // An icon file's picture is its largest image.
    const QByteArray format = QImageReader::imageFormat(path);
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1) {
        for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
            const QSize entry = reader.size();
            if (qint64(entry.width()) * entry.height() > qint64(size.width()) * size.height())
                size = entry;
        }
    }
    // A bitmap stored top row first states a negative height.
    size.setHeight(std::abs(size.height()));
    if (reader.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
    return size;
}

QString describe(Form1& form, FakeModalHost& host, const QString& path, bool byDrop, QSize& loaded)
{
    bool direct = true;
    try {
        loaded = platform::LoadPicture(path).image().size();
    } catch (const platform::RuntimeError&) {
        direct = false;
    }

    host.messages.clear();
    if (byDrop) {
        platform::DataObject data(QStringList{path});
        form.p1_OLEDragDrop(data);
    } else {
        host.choices << path;
        form.Command1_Click();
    }
    if (!host.untrapped.isEmpty())
        return QStringLiteral("wrong: untrapped error ") + host.untrapped.join(';');
    const bool marked = form.Picture1.Picture().Handle() != 0;
    if (host.messages.empty()) {
        if (!direct) return QStringLiteral("wrong: the handler loaded what LoadPicture refused");
        if (!marked || form.Picture3.Picture().image().size() != loaded)
            return QStringLiteral("wrong: loaded without a message but not kept whole");
        return QStringLiteral("loaded");
    }
    const auto& message = host.messages.front();
    if (host.messages.size() != 1 || message.prompt != Refusal || message.buttons != 16 ||
        message.title != QStringLiteral("警告："))
        return QStringLiteral("wrong: message '%1'").arg(message.prompt);
    if (marked) return QStringLiteral("wrong: refused but still marked as loaded");
    if (direct) return QStringLiteral("wrong: the handler refused what LoadPicture loaded");
    loaded = QSize();
    return QStringLiteral("refused");
}

// Readers warn about every broken file; only a fatal message is worth
// passing on to the parent.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(quiet);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FakeModalHost host;
    Form1 form;
    form.Start();
    const QStringList files = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < files.size(); ++i) {
        QElapsedTimer clock;
        clock.start();
        QSize loaded;
        const QString outcome = describe(form, host, files.at(i), i % 2 == 0, loaded);
        const QSize stated = statedSize(files.at(i));
        std::printf("%s\t%dx%d\t%dx%d\t%lld\n", qPrintable(outcome), loaded.width(),
                    loaded.height(), stated.width(), stated.height(),
                    static_cast<long long>(clock.elapsed()));
        std::fflush(stdout);
    }
    return 0;
}
