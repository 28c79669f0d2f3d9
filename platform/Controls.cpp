#include "platform/Controls.h"

#include "platform/Form.h"
#include "platform/RuntimeError.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>

namespace platform {
namespace {

// Return and Enter act on a focused check box as Space does, as they do on
// the buttons.
class ReturnCheckBox final : public QCheckBox
{
public:
    using QCheckBox::QCheckBox;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            click();
        else
            QCheckBox::keyPressEvent(event);
    }
};

} // namespace

template <typename Signal>
ButtonControl::ButtonControl(QAbstractButton* button, Signal signal) : m_button(button)
{
    QObject::connect(m_button, signal, m_button, [this] {
        if (Click) dispatchEvent(Click);
    });
}

void ButtonControl::Move(double left, double top, double width, double height)
{
    Form::place(m_button, left, top, width, height);
}

void ButtonControl::setCaption(const QString& caption)
{
    m_button->setText(caption);
}

void ButtonControl::setTabIndex(int index)
{
    Form::setTabIndex(m_button, index);
}

CommandButton::CommandButton(Form& form)
    : ButtonControl(new QPushButton(form.widget()), &QAbstractButton::clicked)
{
    // An auto-default button is pressed by Return while it has the focus.
    static_cast<QPushButton*>(m_button)->setAutoDefault(true);
}

// toggled, not clicked: a value set from code raises Click too, and a
// handler that resets the value sees one more Click, with the new value.
CheckBox::CheckBox(Form& form)
    : ButtonControl(new ReturnCheckBox(form.widget()), &QAbstractButton::toggled)
{
}

int CheckBox::Value() const
{
    return m_button->isChecked() ? 1 : 0;
}

void CheckBox::setValue(int value)
{
    m_button->setChecked(value == 1);
}

} // namespace platform
