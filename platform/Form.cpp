#include "platform/Form.h"

#include "platform/Control.h"
#include "platform/RuntimeError.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace platform {

Form::Form() : m_window(std::make_unique<QWidget>())
{
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
}

Form::~Form() = default;

QString Form::Caption() const
{
    return m_window->windowTitle();
}

void Form::setCaption(const QString& caption)
{
    m_window->setWindowTitle(caption);
}

void Form::setClientSize(float width, float height)
{
    const QSize size(roundToPixel(Twips.xToPixels(width)), roundToPixel(Twips.yToPixels(height)));
    if (m_borderStyle == 1)
        m_window->setFixedSize(size);
    else
        m_window->resize(size);
}

float Form::ScaleWidth() const
{
    return Twips.xFromPixels(m_window->width());
}

float Form::ScaleHeight() const
{
    return Twips.yFromPixels(m_window->height());
}

void Form::setBorderStyle(int style)
{
    m_borderStyle = style;
    if (style == 1)
        m_window->setFixedSize(m_window->size());
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
    if (m_maxButton && m_borderStyle != 1)
        flags |= Qt::WindowMaximizeButtonHint;
    m_window->setWindowFlags(flags);
}

void Form::setStartUpPosition(int position)
{
    m_startUpPosition = position;
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
    if (Load)
        dispatchEvent(Load);
}

void Form::Show()
{
    if (!m_shown && m_startUpPosition == 2) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            m_window->move(available.x() + (available.width() - m_window->width()) / 2,
                           available.y() + (available.height() - m_window->height()) / 2);
        }
    }
    m_window->show();
    if (!m_shown)
        focusFirstInTabOrder();
    m_shown = true;
}

// The tab order follows the controls' tab indexes; hidden controls are
// skipped, and the first in the order has the focus when the window opens.
void Form::focusFirstInTabOrder()
{
    std::vector<std::pair<int, QWidget*>> order;
    for (QWidget* child : m_window->findChildren<QWidget*>()) {
        const QVariant index = child->property(Control::TabIndexProperty);
        if (index.isValid() && child->isVisibleTo(m_window.get()) &&
            child->focusPolicy() & Qt::TabFocus)
            order.emplace_back(index.toInt(), child);
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
    if (!order.empty())
        order.front().second->setFocus(Qt::OtherFocusReason);
}

} // namespace platform
