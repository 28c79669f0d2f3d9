#pragma once

#include <QStringList>

class QWidget;

namespace platform {

// The top-level window.  Its description (caption, client size in twips,
// border, icon, start-up position) is set before Start, which raises Load;
// the Load handler shows the window.
class Form
{
public:
    Form();
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    void setCaption(const QString& caption);
    void setClientSize(double width, double height);
    // 1, fixed single: the window cannot be resized.
    void setBorderStyle(int style);
    void setMaxButton(bool enabled);
    // 2: centred on the screen when first shown.
    void setStartUpPosition(int position) { m_startUpPosition = position; }
    // The same artwork at several sizes, from files or resources (":/...").
    void setIcon(const QStringList& paths);

    // Raises Load.
    void Start();
    void Show();

    std::function<void()> Load;

    [[nodiscard]] QWidget* widget() const { return m_window.get(); }

    // Places a control's widget on the window, in twips.
    static void place(QWidget* control, double left, double top, double width, double height);
    // The tab order runs by these indexes; the first has the focus at start.
    static void setTabIndex(QWidget* control, int index);

private:
    void applyWindowFlags();
    void focusInTabOrder();

    std::unique_ptr<QWidget> m_window;
    int m_borderStyle = 2;
    bool m_maxButton = true;
    int m_startUpPosition = 0;
    bool m_shown = false;
};

} // namespace platform
