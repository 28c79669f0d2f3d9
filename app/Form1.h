#pragma once

#include "platform/CommonDialog.h"
#include "platform/Controls.h"
#include "platform/Form.h"
#include "platform/PictureBox.h"

// The one window: a strip of buttons over a square preview.  The controls
// are declared in the order they are created; see Form1Design.cpp for their
// design-time properties.  Picture1, Picture2 and Picture3 are never shown:
// they hold pictures in memory.
class Form1 : public platform::Form
{
public:
    Form1();

    platform::PictureBox Picture2;
    platform::CommandButton Command3{*this};
    platform::PictureBox Picture1;
    platform::CommonDialog CommonDialog1;
    platform::CheckBox Check2{*this};
    platform::CommandButton Command2{*this};
    platform::CommandButton Command1{*this};
    platform::VisiblePictureBox p1{*this};
    platform::PictureBox Picture3;
    platform::Line Line3{p1};
    platform::Line Line4{p1};
    platform::Line Line2{p1};
    platform::Line Line1{p1};

    // The folder of the loaded picture, ending with the path separator.
    QString SourceFolder;
    // The loaded picture's own file, so that a cut never overwrites it.
    QString SourcePath;

    void Form_Load();
    void Command1_Click();
    void p1_OLEDragDrop(platform::DataObject& Data);
    void Command2_Click();
    void Check2_Click();
    void Command3_Click();

private:
    void InitializeComponent();
    void loadPictureFile(const platform::DataObject& data);
    [[nodiscard]] bool pictureLoaded() const;
    [[nodiscard]] bool loadedPictureIsATile() const;
    void cutIntoTiles();
};
