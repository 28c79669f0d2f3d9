#pragma once

#include "platform/Container.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace platform {

// A top-level window that measures in twips.  Its description (caption,
// client size, border, icon, start-up position) is set before Start, which
// raises Load; the Load handler shows the window.
class Form : public Container
{
public:
    Form();
    ~Form() override;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    [[nodiscard]] QString Caption() const;
    void setCaption(const QString& caption);
    // The client area in twips.
    void setClientSize(float width, float height);
    [[nodiscard]] float ScaleWidth() const;
    [[nodiscard]] float ScaleHeight() const;
    // 1, fixed single: a frame the person cannot resize.
    void setBorderStyle(int style);
    void setMaxButton(bool enabled);
    // 2: centred on the screen when first shown.
    void setStartUpPosition(int position);
    // The window's icon, from picture files or resources (":/...") of the
    // same artwork at several sizes.
    void setIcon(const QStringList& paths);

    // Raises Load.
    void Start();
    void Show();

    std::function<void()> Load;

    [[nodiscard]] QWidget* widget() const { return m_window.get(); }

    // Container
    [[nodiscard]] QWidget* childParent() const override { return m_window.get(); }
    [[nodiscard]] Scale scale() const override { return Twips; }
    [[nodiscard]] int originX() const override { return 0; }
    [[nodiscard]] int originY() const override { return 0; }

private:
    void applyWindowFlags();
    void focusFirstInTabOrder();

    std::unique_ptr<QWidget> m_window;
    int m_borderStyle = 2;
    bool m_maxButton = true;
    int m_startUpPosition = 0;
    bool m_shown = false;
};

} // namespace platform
