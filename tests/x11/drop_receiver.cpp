// drop_receiver: a stand-in for Tessarine's window, used to prove the X11 test tools work
// before the real program exists and to tell a broken tool from a broken program later.
//
// Same layout as the real window: a 45 px strip of buttons on top that takes no drops, and
// a 400 x 400 area below it that takes file drops. A drop prints the local paths, one per
// line, on stdout and quits.
//
// Options:
//   --title NAME       window title (default "DropReceiver")
//   --fixed            the window cannot be resized (minimum = maximum size)
//   --centred          place the window in the middle of the screen
//   --fixed-centred    both of the above, like the real program
//   --reject-drop      accept while hovering but turn the drop itself down
//   --strip-height N   make the button strip N px high instead of 45, for a wrong-size window

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

constexpr int kWidth = 400;

class DropArea : public QWidget
{
public:
    DropArea(bool rejectDrop, QWidget* parent) : QWidget(parent), m_rejectDrop(rejectDrop)
    {
        setAcceptDrops(true);
        setFixedSize(kWidth, kWidth);
        setAutoFillBackground(true);
        QPalette shade = palette();
        shade.setColor(QPalette::Window, QColor(0x30, 0x30, 0x38));
        setPalette(shade);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override
    {
        if (m_rejectDrop) {
            event->ignore();
            std::fputs("drop_receiver: drop rejected on request\n", stderr);
            return;
        }
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                // encodeName gives back the bytes the file system uses for the name.
                std::printf("%s\n", QFile::encodeName(url.toLocalFile()).constData());
            } else {
                std::fprintf(stderr, "drop_receiver: not a local file: %s\n",
                             url.toString().toUtf8().constData());
            }
        }
        std::fflush(stdout);
        event->acceptProposedAction();
        // Quit only after Qt has told the source the drop is finished.
        QTimer::singleShot(100, qApp, &QCoreApplication::quit);
    }

private:
    bool m_rejectDrop;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);

    QString title = QStringLiteral("DropReceiver");
    bool fixed = false;
    bool centred = false;
    bool rejectDrop = false;
    int stripHeight = 45;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--title") && i + 1 < args.size()) {
            title = args.at(++i);
        } else if (arg == QLatin1String("--fixed")) {
            fixed = true;
        } else if (arg == QLatin1String("--centred")) {
            centred = true;
        } else if (arg == QLatin1String("--fixed-centred")) {
            fixed = centred = true;
        } else if (arg == QLatin1String("--reject-drop")) {
            rejectDrop = true;
        } else if (arg == QLatin1String("--strip-height") && i + 1 < args.size()) {
            bool ok = false;
            stripHeight = args.at(++i).toInt(&ok);
            if (!ok || stripHeight < 0 || stripHeight > 1000) {
                std::fprintf(stderr, "drop_receiver: bad strip height\n");
                return 1;
            }
        } else {
            std::fprintf(stderr, "drop_receiver: unknown option %s\n", qPrintable(arg));
            return 1;
        }
    }

    QWidget window;
    window.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    const int height = stripHeight + kWidth;
    auto* strip = new QWidget(&window);
    strip->setFixedSize(kWidth, stripHeight);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(4, 4, 4, 4);
    stripLayout->addWidget(new QPushButton(QStringLiteral("Open"), strip));
    stripLayout->addStretch();
    layout->addWidget(strip);
    layout->addWidget(new DropArea(rejectDrop, &window));

    if (fixed) {
        window.setFixedSize(kWidth, height);
    } else {
        window.resize(kWidth, height);
        // Without a layout constraint the window would still refuse to shrink below its
        // children, so lift that too: "not fixed" has to look resizable to the checker.
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        window.setMinimumSize(100, 100);
    }
    const QRect screen = window.screen()->geometry();
    // Qt would centre an unplaced window by itself; the unplaced case pins it to the corner
    // so the position check has something to catch.
    if (centred) {
        window.move(screen.x() + (screen.width() - kWidth) / 2,
                    screen.y() + (screen.height() - height) / 2);
    } else {
        window.move(screen.topLeft());
    }
    window.show();
    return app.exec();
}
