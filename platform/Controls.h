#pragma once

#include "platform/Control.h"

#include <QString>

#include <functional>

class QAbstractButton;

namespace platform {

// A push button; Click is raised when it is pressed.
class CommandButton : public Control
{
public:
    explicit CommandButton(Container& container);

    [[nodiscard]] QString Caption() const;
    void setCaption(const QString& caption);
    // Presses the button from code, as a person would.
    void press();

    std::function<void()> Click;

private:
    QAbstractButton* button() const;
};

// A check box with Value 0 (clear) or 1 (ticked).  Click is raised whenever
// the value changes, by a person or by code setting Value.
class CheckBox : public Control
{
public:
    explicit CheckBox(Container& container);

    [[nodiscard]] QString Caption() const;
    void setCaption(const QString& caption);
    [[nodiscard]] int Value() const;
    void setValue(int value);

    std::function<void()> Click;

private:
    QAbstractButton* button() const;
};

} // namespace platform
