#include "platform/Controls.h"

#include "platform/RuntimeError.h"

#include <QCheckBox>
#include <QPushButton>

namespace platform {

CommandButton::CommandButton(Container& container)
    : Control(container, new QPushButton(container.childParent()))
{
    QObject::connect(button(), &QAbstractButton::clicked, button(), [this] {
        if (Click)
            dispatchEvent(Click);
    });
}

QAbstractButton* CommandButton::button() const
{
    return static_cast<QAbstractButton*>(widget());
}

QString CommandButton::Caption() const
{
    return button()->text();
}

void CommandButton::setCaption(const QString& caption)
{
    button()->setText(caption);
}

void CommandButton::press()
{
    button()->click();
}

CheckBox::CheckBox(Container& container) : Control(container, new QCheckBox(container.childParent()))
{
    // toggled, not clicked: a value set from code raises Click too, and a
    // handler that resets the value sees one more Click, with the new value.
    QObject::connect(button(), &QAbstractButton::toggled, button(), [this] {
        if (Click)
            dispatchEvent(Click);
    });
}

QAbstractButton* CheckBox::button() const
{
    return static_cast<QAbstractButton*>(widget());
}

QString CheckBox::Caption() const
{
    return button()->text();
}

void CheckBox::setCaption(const QString& caption)
{
    button()->setText(caption);
}

int CheckBox::Value() const
{
    return button()->isChecked() ? 1 : 0;
}

void CheckBox::setValue(int value)
{
    button()->setChecked(value == 1);
}

} // namespace platform
