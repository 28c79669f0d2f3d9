#pragma once

#include <QString>

class QAbstractButton;

namespace platform {

class Form;

// What a button and a check box share: a caption, a place on the window
// in twips, a place in the tab order, and the Click event.
class ButtonControl
{
public:
    void Move(double left, double top, double width, double height);
    void setCaption(const QString& caption);
    void setTabIndex(int index);

    std::function<void()> Click;

protected:
    // `button` belongs to the window; Click is raised on `signal`.
    template <typename Signal> ButtonControl(QAbstractButton* button, Signal signal);

    QAbstractButton* m_button;
};

// A push button; Click is raised when it is pressed, by the mouse, Space or
// Return.
class CommandButton : public ButtonControl
{
public:
    explicit CommandButton(Form& form);
};

// A check box with Value 0 (clear) or 1 (ticked).  Click is raised whenever
// the value changes, by a person or by code setting Value.
class CheckBox : public ButtonControl
{
public:
    explicit CheckBox(Form& form);

    [[nodiscard]] int Value() const;
    void setValue(int value);
};

} // namespace platform
