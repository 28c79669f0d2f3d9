// The window's design-time properties.  Positions and sizes are in twips
// (15 to a pixel) unless a control lives in p1, whose user scale spreads
// 6000 units across and 5940 down over its 396 x 396-pixel drawing area.
// The hidden boxes have no place on screen; only their sizes matter.

#include "app/Form1.h"

#include "platform/PictureFiles.h"

void Form1::InitializeComponent()
{
    setCaption(QStringLiteral("Tessarine"));
    setBorderStyle(1); // fixed single: the window cannot be resized
    setMaxButton(false);
    setClientSize(6000, 6675);
    setStartUpPosition(2); // centred on the screen
    setIcon({QStringLiteral(":/icons/hicolor/16x16/apps/tessarine.png"),
             QStringLiteral(":/icons/hicolor/32x32/apps/tessarine.png"),
             QStringLiteral(":/icons/hicolor/48x48/apps/tessarine.png"),
             QStringLiteral(":/icons/hicolor/128x128/apps/tessarine.png")});

    Picture2.setPicture(platform::LoadPicture(QStringLiteral(":/thanks.jpg")));

    Command3.Move(3240, 75, 975, 495);
    Command3.setCaption(QStringLiteral("打赏作者"));
    Command3.setTabIndex(5);

    Picture1.setWidth(600);
    Picture1.setHeight(600);

    Check2.Move(1920, 120, 1095, 375);
    Check2.setCaption(QStringLiteral("效果预览"));
    Check2.setValue(0);
    Check2.setTabIndex(3);

    Command2.Move(4320, 75, 1575, 495);
    Command2.setCaption(QStringLiteral("生成图片"));
    Command2.setTabIndex(2);

    Command1.Move(120, 75, 1455, 495);
    Command1.setCaption(QStringLiteral("选择图片"));
    Command1.setTabIndex(1);

    p1.Move(0, 675, 6000, 6000); // sunken 2 px frame: 396 x 396 px inside
    p1.setToolTipText(QStringLiteral("您可以直接把图片拖到这里."));
    p1.setAccessibleName(QStringLiteral("图片预览"));
    p1.setAccessibleDescription(QStringLiteral("未载入图片"));
    p1.setUserScale(6000, 5940);
    p1.setOLEDropMode(1);
    p1.setTabIndex(0);

    Picture3.setAutoSize(true);

    struct LineDesign
    {
        platform::Line& line;
        double x1, y1, x2, y2;
        bool visible;
    };
    for (const LineDesign& d : {LineDesign{Line3, 0, 2000, 6000, 2000, false},
                                LineDesign{Line4, 0, 4000, 6000, 4000, false},
                                LineDesign{Line2, 4000, 0, 4000, 6000, true},
                                LineDesign{Line1, 2000, 0, 2000, 6000, true}}) {
        d.line.setX1(d.x1);
        d.line.setY1(d.y1);
        d.line.setX2(d.x2);
        d.line.setY2(d.y2);
        d.line.setBorderColor(0x00FFFFFF);
        d.line.setBorderWidth(4);
        d.line.setVisible(d.visible);
    }

    Load = [this] { Form_Load(); };
    Command1.Click = [this] { Command1_Click(); };
    p1.OLEDragDrop = [this](platform::DataObject& data) { p1_OLEDragDrop(data); };
    Command2.Click = [this] { Command2_Click(); };
    Check2.Click = [this] { Check2_Click(); };
    Command3.Click = [this] { Command3_Click(); };
}
