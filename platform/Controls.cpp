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

CommandButton::CommandButton(Form& form) : m_button(new QPushButton(form.widget()))
{
    // An auto-default button is pressed by Return while it has the focus.
    m_button->setAutoDefault(true);
    QObject::connect(m_button, &QAbstractButton::clicked, m_button, [this] {
        if (Click)
            dispatchEvent(Click);
    });
}

void CommandButton::Move(double left, double top, double width, double height)
{
    Form::place(m_button, left, top, width, height);
}

void CommandButton::setCaption(const QString& caption)
{
    m_button->setText(caption);
}

void CommandButton::setTabIndex(int index)
{
    Form::setTabIndex(m_button, index);
}

CheckBox::CheckBox(Form& form) : m_box(new ReturnCheckBox(form.widget()))
{
    // toggled, not clicked: a value set from code raises Click too, and a
    // handler that resets the value sees one more Click, with the new value.
    QObject::connect(m_box, &QAbstractButton::toggled, m_box, [this] {
        if (Click)
            dispatchEvent(Click);
    });
}

void CheckBox::Move(double left, double top, double width, double height)
{
    Form::place(m_box, left, top, width, height);
}

void CheckBox::setCaption(const QString& caption)
{
    m_box->setText(caption);
}

void CheckBox::setTabIndex(int index)
{
    Form::setTabIndex(m_box, index);
}

int CheckBox::Value() const
{
    return m_box->isChecked() ? 1 : 0;
}

void CheckBox::setValue(int value)
{
    m_box->setChecked(value == 1);
}

} // namespace platform
