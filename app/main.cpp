#include "app/Form1.h"

#include "platform/Application.h"

int main(int argc, char* argv[])
{
    platform::Application application(argc, argv, QStringLiteral("Tessarine"));
    Form1 form;
    form.Start();
    return application.exec([&form](platform::DataObject& data) { form.p1_OLEDragDrop(data); });
}
