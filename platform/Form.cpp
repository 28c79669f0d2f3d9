#include "platform/Form.h"

#include "platform/RuntimeError.h"
#include "platform/Scale.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

constexpr const char* TabIndexProperty = "tessarineTabIndex";

int pixels(double twips)
{
    return roundToPixel(Twips.toPixels(twips));
}

} // namespace

Form::Form() : m_window(std::make_unique<QWidget>()) {}

Form::~Form() = default;

void Form::setCaption(const QString& caption)
{
    m_window->setWindowTitle(caption);
}

void Form::setClientSize(double width, double height)
{
    const QSize size(pixels(width), pixels(height));
    if (m_borderStyle == 1)
        m_window->setFixedSize(size);
    else
        m_window->resize(size);
}

void Form::setBorderStyle(int style)
{
    m_borderStyle = style;
    if (style == 1) m_window->setFixedSize(m_window->size());
    applyWindowFlags();
}

void Form::setMaxButton(bool enabled)
{
    m_maxButton = enabled;
    applyWindowFlags();
}

void Form::applyWindowFlags()
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint;
    if (m_maxButton && m_borderStyle != 1) flags |= Qt::WindowMaximizeButtonHint;
    m_window->setWindowFlags(flags);
}

void Form::setIcon(const QStringList& paths)
{
    QIcon icon;
    for (const QString& path : paths)
        icon.addFile(path);
    m_window->setWindowIcon(icon);
}

void Form::Start()
{
    if (Load) dispatchEvent(Load);
}

void Form::Show()
{
    if (!m_shown && m_startUpPosition == 2) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), m_window->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
    }
    m_window->show();
    if (!m_shown) focusInTabOrder();
    m_shown = true;
}

void Form::place(QWidget* control, double left, double top, double width, double height)
{
    control->setGeometry(pixels(left), pixels(top), pixels(width), pixels(height));
}

void Form::setTabIndex(QWidget* control, int index)
{
    control->setProperty(TabIndexProperty, index);
}

void Form::focusInTabOrder()
{
    std::vector<std::pair<int, QWidget*>> order;
    for (QWidget* child : m_window->findChildren<QWidget*>()) {
        const QVariant index = child->property(TabIndexProperty);
        if (index.isValid()) order.emplace_back(index.toInt(), child);
    }
    std::ranges::sort(order, {}, &std::pair<int, QWidget*>::first);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
    if (!order.empty()) order.front().second->setFocus(Qt::OtherFocusReason);
}

} // namespace platform
