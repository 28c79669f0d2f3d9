#include "platform/StagedPictures.h"

#include "platform/SystemErrorText.h"

#include "platform/FileCalls.h"

#include <QCoreApplication>
#include <QDir>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

// How the tile writer uses the file system.  Every file of a set is first
// written under a hidden name beside its final one,
//     .5.jpg.tessarine-<process id>-<set>.new
// and, while the set is being put in place, the file it replaces is kept
// under the same name ending in ".old" until every new file is in place, so
// that a rename refused half-way can put the old ones back.  Before the
// first new file takes its name, a marker ".tessarine-<process id>-<set>.commit"
// is made and synced beside them; it goes once the folder holds the new set
// on the disk.  A crash leaves such names behind.  The next load from that
// folder or save into it finishes a set of a process that no longer exists
// when its marker is there (the rest of its new files go in place, its old
// ones go), and otherwise undoes it: its new files go, its old files come
// back where the name is free.  An old file whose name is taken stays until a
// cut of ours has put a new file there.  (A process id reused by a live
// process keeps its leftovers until that process ends too.)

namespace platform {

enum class Aside { None, Linked, Moved };

struct StagedPictures::Staged
{
    QString path;
    QString staged;          // the new file under its hidden name
    QString aside;           // the old file's hidden name while the set is put in place
    files::Handle file = -1; // open until the commit has synced it
    Aside oldFile = Aside::None;
    bool placed = false;
};

namespace {

constexpr std::size_t HeaderBytes = 54;

SaveError saveError(int error, const QString& path)
{
    return SaveError(RuntimeError::DeviceIOError,
                     error == files::NotRegularFile ? QStringLiteral("这不是普通文件，不能替换")
                                                    : systemErrorText(error),
                     QDir::toNativeSeparators(path));
}

// Leftovers of sets whose process is gone: "file name", "process-set", process, "new", "old"
// or "commit".  Nothing here is worth a failure: a folder we cannot clean is reported by the
// write that follows.  Adds to `kept` the old files that stay because their names are taken.
void sweepLeftovers(const QString& folder, std::vector<std::pair<QString, QString>>& kept)
{
    static const QRegularExpression leftover(
        QStringLiteral(R"(^\.(?:(.+)\.)?tessarine-((\d+)-\d+)\.(new|old|commit)$)"));
    const QDir dir(folder);
    QList<QRegularExpressionMatch> gone;
    QStringList finished; // the sets whose marker says they were being put in place
    for (const QString& name : dir.entryList({QStringLiteral(".*tessarine-*")},
                                             QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = leftover.match(name);
        const int owner = match.captured(3).toInt(); // 0 for no match
        if (owner <= 0 || !files::processGone(owner)) continue;
        gone << match;
        if (match.captured(4) == QLatin1String("commit")) finished << match.captured(2);
    }
    for (const QRegularExpressionMatch& match : std::as_const(gone)) {
        const QString file = dir.filePath(match.captured(0));
        const QString target = dir.filePath(match.captured(1));
        const QString kind = match.captured(4);
        if (finished.contains(match.captured(2)) && kind != QLatin1String("commit"))
            kind == QLatin1String("new") ? void(files::rename(file, target))
                                         : void(QFile::remove(file));
        else if (kind == QLatin1String("new"))
            QFile::remove(file);
        else if (kind == QLatin1String("old") && !files::renameNoReplace(file, target))
            kept.emplace_back(target, file);
    }
    if (!finished.isEmpty() && files::syncFolder(folder) == 0) // else the markers wait
        for (const QString& set : std::as_const(finished))
            QFile::remove(dir.filePath(".tessarine-" + set + ".commit"));
}

// One row of 0xffRRGGBB pixels as blue, green, red bytes.  Plain enough for
// the compiler to turn into vector shuffles.
void packRow(const QRgb* __restrict pixels, int width, unsigned char* __restrict out)
{
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = pixels[x];
        out[3 * x] = static_cast<unsigned char>(pixel);
        out[3 * x + 1] = static_cast<unsigned char>(pixel >> 8);
        out[3 * x + 2] = static_cast<unsigned char>(pixel >> 16);
    }
}

std::size_t rowBytes(const QImage& image)
{
    return (std::size_t(image.width()) * 3 + 3) & ~std::size_t(3);
}

// The header of a 24-bit Windows bitmap, byte for byte what Qt's "bmp"
// writer makes of an RGB32 image: the rows follow from the bottom up, three
// bytes a pixel, each row padded to 4 bytes with zeros.
std::size_t packHeader(const QImage& image, unsigned char* out)
{
    const auto pixelBytes = quint32(rowBytes(image) * std::size_t(image.height()));
    const quint32 fields[][2] = {
        {2, quint32(HeaderBytes) + pixelBytes},
        {10, quint32(HeaderBytes)}, // where the rows start
        {14, 40},                   // size of the info header
        {18, quint32(image.width())},
        {22, quint32(image.height())},
        {26, 1 | 24 << 16}, // one plane, 24 bits a pixel; then 0: no compression
        {34, pixelBytes},
        {38, quint32(image.dotsPerMeterX())},
        {42, quint32(image.dotsPerMeterY())}};
    std::memset(out, 0, HeaderBytes);
    out[0] = 'B';
    out[1] = 'M';
    for (const auto& [at, value] : fields)
        qToLittleEndian(value, out + at);
    return HeaderBytes;
}

// Writes `picture` to the staged file in pieces of about 512 KiB, each
// packed and then written unbuffered, so that a full disk shows as a short
// write.  The finished file's write-back starts at once, so that the commit
// finds most of it on the disk already.
void writeBitmap(const QImage& picture, const QString& path, files::Handle file)
{
    // 32-bit pixels without alpha are what Qt writes as a 24-bit bitmap; a drawing kept in the
    // bitmap's own byte order needs no packing.
    const bool packed = picture.format() == QImage::Format_BGR888;
    const QImage image = picture.format() == QImage::Format_RGB32 || packed
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) throw std::bad_alloc();
    const std::size_t row = rowBytes(image), pixels = 3 * std::size_t(image.width());
    const std::size_t size = HeaderBytes + row * std::size_t(image.height());
    if (size > 0xFFFFFFFFu) throw saveError(files::TooLarge, path); // past the header's 32 bits
    const std::size_t rows = std::clamp<std::size_t>(512 * 1024 / row, 1, image.height());
    const std::unique_ptr<unsigned char[]> piece(new unsigned char[HeaderBytes + rows * row]);
    for (int y = image.height() - 1; y >= 0;) {
        unsigned char* out = piece.get();
        if (y == image.height() - 1) out += packHeader(image, out);
        for (std::size_t n = 0; n < rows && y >= 0; ++n, --y, out += row) {
            if (packed)
                std::memcpy(out, image.constScanLine(y), pixels);
            else
                packRow(reinterpret_cast<const QRgb*>(image.constScanLine(y)), image.width(), out);
            std::memset(out + pixels, 0, row - pixels);
        }
        if (const int error = files::writeAll(file, piece.get(), std::size_t(out - piece.get())))
            throw saveError(error, path);
    }
    files::finished(file);
}

} // namespace

// Sets are numbered from the clock, so that a process that gets the id of a crashed one does
// not meet its names.
StagedPictures::StagedPictures()
{
    static std::atomic<unsigned> sets{unsigned(std::time(nullptr))};
    m_set = QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(++sets);
}

StagedPictures::~StagedPictures()
{
    discard();
}

// The place in the list is taken before the hidden file exists, so that
// whatever fails later finds the file there to be removed.
void StagedPictures::SavePicture(const Picture& picture, const QString& path)
{
    try {
        if (m_folder.isEmpty()) {
            m_folder = QFileInfo(path).path();
            m_marker = m_folder + "/.tessarine-" + m_set + ".commit";
            sweepLeftovers(m_folder, m_kept);
        }
        // The hidden names of the new file and of the old one while it is kept.
        const QString stem = m_folder + "/." + QFileInfo(path).fileName() + ".tessarine-" + m_set;
        Staged& staged = m_staged.emplace_back(Staged{path, stem + ".new", stem + ".old"});
        if (const int error = files::checkReplaceable(path)) throw saveError(error, path);
        if (const int error = files::createNew(staged.staged, staged.file))
            throw saveError(error, path);
        writeBitmap(picture.image(), path, staged.file);
    } catch (const std::bad_alloc&) {
        discard();
        throw saveError(files::OutOfMemory, path);
    } catch (...) {
        discard();
        throw;
    }
}

void StagedPictures::Commit()
{
    const QString last = m_staged.empty() ? QString() : m_staged.back().path;
    try {
        place();
    } catch (const std::bad_alloc&) {
        rollBack();
        discard();
        throw saveError(files::OutOfMemory, last);
    } catch (...) {
        rollBack();
        discard();
        throw;
    }
    for (const Staged& staged : m_staged) {
        if (staged.oldFile != Aside::None) QFile::remove(staged.aside);
        for (const auto& [target, kept] : m_kept) // the folder's names, spelled with "/"
            if (target == QDir::fromNativeSeparators(staged.path)) QFile::remove(kept);
    }
    discard();
}

// Every new file's data reaches the disk before the first name points at
// it, then the marker that tells a later run to finish the set, and the
// folders' new names after the last rename: a power cut or a crash leaves
// either the old files or the new ones, never empty ones.
void StagedPictures::place()
{
    for (Staged& staged : m_staged)
        if (const int error = files::syncAndClose(staged.file)) throw saveError(error, staged.path);
    files::Handle marker = -1;
    if (const int error = files::createNew(m_marker, marker))
        throw saveError(error, m_staged.front().path);
    m_marked = true;
    files::close(marker);
    if (const int error = files::syncFolder(m_folder)) throw saveError(error, m_folder);
    for (Staged& staged : m_staged) {
        // The file being replaced gets a second name first, so it can be
        // put back.  Where hard links are not to be had, it is moved aside
        // instead, and put back all the same.
        if (const QFileInfo old(staged.path); old.exists() || old.isSymLink()) {
            if (files::link(staged.path, staged.aside))
                staged.oldFile = Aside::Linked;
            else if (const int moved = files::rename(staged.path, staged.aside); moved == 0)
                staged.oldFile = Aside::Moved;
            else
                throw saveError(moved, staged.path);
        }
        if (const int error = files::rename(staged.staged, staged.path))
            throw saveError(error, staged.path);
        staged.placed = true;
    }
    if (const int error = files::syncFolder(m_folder)) throw saveError(error, m_folder);
}

// Undoes a commit that stopped part-way, newest first: each old file gets
// its name back (replacing the new one in a single step), and a name that
// was new goes away.  An old file that cannot be put back keeps its hidden
// name rather than being lost.
void StagedPictures::rollBack() noexcept
{
    for (auto it = m_staged.rbegin(); it != m_staged.rend(); ++it) {
        Staged& staged = *it;
        if (staged.oldFile == Aside::Moved || (staged.placed && staged.oldFile == Aside::Linked)) {
            if (files::rename(staged.aside, staged.path) == 0) staged.oldFile = Aside::None;
        } else if (staged.oldFile == Aside::Linked) {
            QFile::remove(staged.aside);
            staged.oldFile = Aside::None;
        } else if (staged.placed) {
            QFile::remove(staged.path);
        }
        staged.placed = false;
    }
}

// Removes what was staged: every hidden new file not in place, open or
// closed, and the marker, once the old files are back or the new ones in place.
void StagedPictures::discard() noexcept
{
    for (Staged& staged : m_staged) {
        files::close(staged.file);
        if (!staged.placed) QFile::remove(staged.staged);
    }
    m_staged.clear();
    if (std::exchange(m_marked, false)) QFile::remove(m_marker);
}

void RepairTiles(const QString& folder)
{
    std::vector<std::pair<QString, QString>> kept;
    sweepLeftovers(folder, kept);
}

} // namespace platform
