#pragma once

#include <QString>

#include <functional>

class QAbstractButton;
class QPushButton;

namespace platform {

class Form;

// A push button on the window; Click is raised when it is pressed, by the
// mouse, Space or Return.
class CommandButton
{
public:
    explicit CommandButton(Form& form);

    void Move(double left, double top, double width, double height);
    void setCaption(const QString& caption);
    void setTabIndex(int index);

    std::function<void()> Click;

private:
    QPushButton* m_button;
};

// A check box with Value 0 (clear) or 1 (ticked).  Click is raised whenever
// the value changes, by a person or by code setting Value.
class CheckBox
{
public:
    explicit CheckBox(Form& form);

    void Move(double left, double top, double width, double height);
    void setCaption(const QString& caption);
    void setTabIndex(int index);
    [[nodiscard]] int Value() const;
    void setValue(int value);

    std::function<void()> Click;

private:
    QAbstractButton* m_box;
};

} // namespace platform
