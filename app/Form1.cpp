#include "app/Form1.h"

#include "app/TileGeometry.h"
#include "platform/Background.h"
#include "platform/MsgBox.h"
#include "platform/PictureFiles.h"
#include "platform/StagedPictures.h"

using namespace platform;
using tiles::third;
using tiles::twoThirds;

Form1::Form1()
{
    InitializeComponent();
}

void Form1::Form_Load()
{
    for (Line* line : {&Line1, &Line2, &Line3, &Line4})
        line->setVisible(false);

    Line1.setX1(third(p1.ScaleWidth()));
    Line1.setX2(third(p1.ScaleWidth()));
    Line2.setX1(twoThirds(p1.ScaleWidth()));
    Line2.setX2(twoThirds(p1.ScaleWidth()));
    Line3.setY1(third(p1.ScaleHeight()));
    Line3.setY2(third(p1.ScaleHeight()));
    Line4.setY1(twoThirds(p1.ScaleHeight()));
    Line4.setY2(twoThirds(p1.ScaleHeight()));

    Show();
}

// Choose a picture.  The dialog comes first, so that cancelling it leaves
// the picture that was loaded exactly as it was; it opens where the last
// picture came from.
void Form1::Command1_Click()
{
    CommonDialog1.setFileName(QString());
    CommonDialog1.setInitDir(SourceFolder);
    CommonDialog1.ShowOpen();
    if (CommonDialog1.FileName() == QString()) return;
    loadPictureFile(DataObject({CommonDialog1.FileName()}));
}

// A file dropped on the preview, or named on the command line; only the
// first of several is loaded.
void Form1::p1_OLEDragDrop(DataObject& Data)
{
    loadPictureFile(Data);
}

// The first file of `data`, chosen or dropped.  The old picture is let go
// first, before the data is read: two full-size pictures are never held at
// once, and data without a file leaves nothing shown and nothing loaded.
// The file is decoded once: the preview and the full-size copy that is cut
// come from the same picture.  Picture1's picture marks it as loaded; a
// file that cannot be loaded is reported and leaves none.
void Form1::loadPictureFile(const DataObject& data)
{
    try {
        p1.setPicture(LoadPicture());
        Picture3.setPicture(LoadPicture());
        Picture1.setPicture(Nothing);
        p1.setAccessibleDescription(QStringLiteral("未载入图片"));
        const QString path = data.Files(1);
        const Picture picture = LoadPicture(path);
        p1.PaintPicture(picture, 0, 0, p1.ScaleWidth(), p1.ScaleHeight());
        Picture3.setPicture(picture);
        Picture1.setPicture(Picture3.Image());
        SourceFolder = path.left(path.lastIndexOf(PathSeparator()) + 1);
        SourcePath = path;
        p1.setAccessibleDescription(QStringLiteral("已载入图片：") + path.mid(SourceFolder.size()));
    } catch (const RuntimeError& error) {
        MsgBox(QStringLiteral("图片格式错误"), 16, QStringLiteral("警告："), error.description());
        Picture1.setPicture(Nothing);
    }
}

bool Form1::pictureLoaded() const
{
    return Picture1.Picture().Handle() != 0;
}

bool Form1::loadedPictureIsATile() const
{
    for (int n = 1; n <= tiles::TileCount; ++n)
        if (SameFile(SourcePath, SourceFolder + tiles::tileFileName(n))) return true;
    return false;
}

// Cut the picture into nine tiles "1.jpg" to "9.jpg" beside it.
void Form1::Command2_Click()
{
    if (!pictureLoaded()) {
        MsgBox(QStringLiteral("请先载入图片"), 64, QStringLiteral("通知:"));
        return;
    }
    if (loadedPictureIsATile()) {
        MsgBox(QStringLiteral("原图片与切出的图片同名，请先把原图片改名或移到别的文件夹"), 16,
               QStringLiteral("警告："));
        return;
    }
    try {
        cutIntoTiles();
    } catch (const RuntimeError& error) {
        Picture1.Cls();
        // A tile that could not be written names itself; memory that ran
        // out for the canvas names the folder.
        MsgBox(QStringLiteral("图片保存失败：") +
                   (error.path().isEmpty() ? SourceFolder : error.path()) + QLatin1Char('\n') +
                   error.description(),
               16, QStringLiteral("警告："));
        return;
    }
    MsgBox(QStringLiteral("图片切割完毕,在原图片文件夹下以1-9命名，按顺序上传朋友圈即可"), 64,
           QStringLiteral("据说打赏作者的人都长的很帅:"), SourceFolder);
}

// The canvas Picture1 is a third of the picture; each tile's third is drawn
// on it and saved.  The nine files are put in place only when all nine were
// written, so a failure leaves the earlier files of those names as they were.
// All of it happens off the window's thread, which keeps painting meanwhile.
// The canvas is let go once the tiles are on disk.
void Form1::cutIntoTiles()
{
    Picture1.setWidth(third(Picture3.ScaleWidth()));
    Picture1.setHeight(third(Picture3.ScaleHeight()));

    waitFor([this] {
        StagedPictures tileFiles;
        for (int n = 1; n <= tiles::TileCount; ++n) {
            const tiles::Rect source =
                tiles::tileSource(n, Picture3.ScaleWidth(), Picture3.ScaleHeight());
            Picture1.PaintPicture(Picture3.Image(), 0, 0, Picture1.Width(), Picture1.Height(),
                                  source.x, source.y, source.width, source.height);
            tileFiles.SavePicture(Picture1.Image(), SourceFolder + tiles::tileFileName(n));
        }
        tileFiles.Commit();
    });
    Picture1.Cls();
}

// Show or hide the grid over the preview.  Only showing it needs a picture.
void Form1::Check2_Click()
{
    const bool show = Check2.Value() == 1;
    if (show && !pictureLoaded()) {
        MsgBox(QStringLiteral("请先载入图片"), 64, QStringLiteral("通知:"));
        Check2.setValue(0);
        return;
    }
    for (Line* line : {&Line1, &Line2, &Line3, &Line4})
        line->setVisible(show);
}

// Show the thank-you card over the preview; the loaded picture stays loaded.
void Form1::Command3_Click()
{
    p1.PaintPicture(Picture2.Picture(), 0, 0, p1.ScaleWidth(), p1.ScaleHeight());
}
