// The window as it opens: its design-time layout and what start-up does.

#include "app/Form1.h"
#include "support/FakeModalHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QWidget>

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void windowIsFixedWithItsCaption();
    void controlsSitWhereDesigned_data();
    void controlsSitWhereDesigned();
    void previewScale();
    void hiddenBoxesStayHiddenAndFrameless();
    void startUpHidesAndPlacesTheGrid();
    void tabOrderStartsAtThePreview();
};

void TestForm1::windowIsFixedWithItsCaption()
{
    Form1 form;
    QWidget* window = form.widget();
    QCOMPARE(window->windowTitle(), QString("Tessarine"));
    QCOMPARE(window->size(), QSize(400, 445));
    QCOMPARE(window->minimumSize(), QSize(400, 445));
    QCOMPARE(window->maximumSize(), QSize(400, 445));
    QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(window->windowIcon().availableSizes().size(), 4);
    QCOMPARE(form.Picture2.Picture().image().size(), QSize(691, 691));
}

void TestForm1::controlsSitWhereDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Command1") << "Command1" << QRect(8, 5, 97, 33) << "选择图片";
    QTest::newRow("Check2") << "Check2" << QRect(128, 8, 73, 25) << "效果预览";
    QTest::newRow("Command3") << "Command3" << QRect(216, 5, 65, 33) << "打赏作者";
    QTest::newRow("Command2") << "Command2" << QRect(288, 5, 105, 33) << "生成图片";
    QTest::newRow("p1") << "p1" << QRect(0, 45, 400, 400) << "";
}

void TestForm1::controlsSitWhereDesigned()
{
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    QFETCH(QString, caption);
    Form1 form;
    const std::map<QString, platform::Control*> controls = {
        {"Command1", &form.Command1}, {"Check2", &form.Check2}, {"Command3", &form.Command3},
        {"Command2", &form.Command2}, {"p1", &form.p1}};
    QWidget* widget = controls.at(name)->widget();
    QCOMPARE(widget->geometry(), pixels);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->text(), caption);
}

void TestForm1::previewScale()
{
    Form1 form;
    QCOMPARE(form.p1.ScaleWidth(), 6000.0f);
    QCOMPARE(form.p1.ScaleHeight(), 5940.0f);
    QCOMPARE(form.p1.Width(), 6000.0f);
    QCOMPARE(form.p1.Height(), 6000.0f);
    QCOMPARE(form.p1.Image().image().size(), QSize(396, 396));
    QCOMPARE(form.p1.ToolTipText(), QString("您可以直接把图片拖到这里."));
    QVERIFY(form.p1.widget()->acceptDrops());
    QVERIFY(!form.widget()->acceptDrops());
}

void TestForm1::hiddenBoxesStayHiddenAndFrameless()
{
    Form1 form;
    FakeModalHost host;
    form.Start();
    for (platform::PictureBox* box : {&form.Picture1, &form.Picture2, &form.Picture3}) {
        QVERIFY(!box->widget()->isVisible());
        QCOMPARE(box->BorderStyle(), platform::PictureBox::NoBorder);
        QCOMPARE(box->Width(), box->ScaleWidth() * (box == &form.Picture3 ? 1 / 0.99f : 1.0f));
    }
    QVERIFY(form.p1.widget()->isVisible());
}

void TestForm1::startUpHidesAndPlacesTheGrid()
{
    Form1 form;
    FakeModalHost host;
    QVERIFY(form.Line1.Visible()); // so start-up has something to hide
    form.Start();
    QVERIFY(form.widget()->isVisible());
    QVERIFY(host.untrapped.isEmpty());
    for (const platform::Line* line : {&form.Line1, &form.Line2, &form.Line3, &form.Line4})
        QVERIFY(!line->Visible());
    QCOMPARE(form.Line1.X1(), 2000.0f);
    QCOMPARE(form.Line1.X2(), 2000.0f);
    QCOMPARE(form.Line2.X1(), 4000.0f);
    QCOMPARE(form.Line2.X2(), 4000.0f);
    QCOMPARE(form.Line3.Y1(), 1980.0f);
    QCOMPARE(form.Line3.Y2(), 1980.0f);
    QCOMPARE(form.Line4.Y1(), 3960.0f);
    QCOMPARE(form.Line4.Y2(), 3960.0f);
    // The other ends keep their design-time values.
    QCOMPARE(form.Line1.Y2(), 6000.0f);
    QCOMPARE(form.Line3.X2(), 6000.0f);
    // Picture3 moved to p1's own Left and Top, read as p1's units.
    QCOMPARE(form.Picture3.Left(), 0.0f);
    QCOMPARE(form.Picture3.Top(), 675.0f);
    QVERIFY(form.SourceFolder.isEmpty());
    QCOMPARE(form.Picture1.Picture().Handle(), 0);
}

void TestForm1::tabOrderStartsAtThePreview()
{
    Form1 form;
    FakeModalHost host;
    form.Start();
    QApplication::setActiveWindow(form.widget());
    QVERIFY(QTest::qWaitForWindowActive(form.widget()));
    QCOMPARE(QApplication::focusWidget(), form.p1.widget());
    QList<QWidget*> order;
    QWidget* w = form.p1.widget();
    for (int i = 0; i < 5; ++i, w = w->nextInFocusChain()) {
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible())
            w = w->nextInFocusChain();
        order << w;
    }
    QCOMPARE(order, QList<QWidget*>({form.p1.widget(), form.Command1.widget(),
                                     form.Command2.widget(), form.Check2.widget(),
                                     form.Command3.widget()}));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
