#include "platform/StagedPictures.h"

#include "platform/SystemErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

// The file-system calls of the tile writer.  Every file is first written
// under a hidden name beside its final one,
//     .5.jpg.tessarine-<process id>-<number>.new
// and, while the set is being put in place, the file it replaces is kept
// under the same name ending in ".old" until every new file is in place, so
// that a rename refused half-way can put the old ones back.  A crash leaves
// such names behind; the first save into a folder removes those whose
// process no longer exists.  (A process id reused by a live process keeps
// its leftovers until that process ends too.)

namespace platform {

enum class Aside { None, Linked, Moved };

struct StagedPictures::Staged
{
    QString path;
    QByteArray target; // `path` as the file system spells it
    QByteArray staged; // the new file under its hidden name
    QByteArray aside;  // the old file's hidden name while the set is put in place
    std::size_t size = 0;
    int fd = -1;               // closed by the writer with the last piece
    std::atomic<int> error{0}; // of the writing; the earliest is the one reported
    Aside oldFile = Aside::None;
    bool placed = false;
};

namespace {

// A name that exists but is a FIFO, socket or device: no errno says that.
constexpr int NotRegularFile = -1;
constexpr std::size_t HeaderBytes = 54;

RuntimeError::Number numberFor(int error)
{
    for (const int denied : {EACCES, EPERM, EROFS, EBUSY, ETXTBSY})
        if (error == denied) return RuntimeError::PermissionDenied;
    for (const int missing : {ENOENT, ENOTDIR, EISDIR, ENAMETOOLONG, ELOOP, NotRegularFile})
        if (error == missing) return RuntimeError::PathNotFound;
    return RuntimeError::DeviceIOError;
}

SaveError saveError(int error, const QString& path)
{
    return SaveError(numberFor(error),
                     error == NotRegularFile ? QStringLiteral("这不是普通文件，不能替换")
                                             : systemErrorText(error),
                     path);
}

// An existing file of that name must be one we may replace: a folder, a
// FIFO or device, or a file that may not be written (read-only, immutable,
// on a read-only disk) is refused before anything is written.  Opening it
// for appending tests that without changing it; non-blocking, so a FIFO
// that slipped in meanwhile fails at once instead of waiting for a reader.
int checkReplaceable(const QByteArray& target)
{
    struct stat info = {};
    if (::stat(target.constData(), &info) != 0)
        return errno == ENOENT ? 0 : errno; // a new name, or a missing folder found later
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return NotRegularFile;
    const int fd =
        ::open(target.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENXIO ? NotRegularFile : errno;
    ::close(fd);
    return 0;
}

// Leftovers of cuts whose process is gone.  Nothing here is worth a
// failure: a folder we cannot clean is reported by the write that follows.
void sweepLeftovers(const QString& folder)
{
    static const QRegularExpression leftover(
        QStringLiteral(R"(^\..+\.tessarine-(\d+)-\d+\.(new|old)$)"));
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".*.tessarine-*")},
                                            QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = leftover.match(name);
        bool ok = false;
        const pid_t owner = match.hasMatch() ? pid_t(match.captured(1).toInt(&ok)) : 0;
        if (ok && owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlink(QFile::encodeName(dir.filePath(name)).constData());
    }
}

// Creates the hidden file a new one is written to, and names the one the
// old file will be kept under.  The counter makes the names unique within
// the process, O_EXCL against anything already there (a crashed cut's,
// whose process id we now have).  Returns the file descriptor, or -errno.
int createStaged(const QString& path, QByteArray& staged, QByteArray& aside)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString stem = info.path() + QStringLiteral("/.") + info.fileName() +
                             QStringLiteral(".tessarine-%1-%2").arg(::getpid()).arg(++counter);
        staged = QFile::encodeName(stem + QStringLiteral(".new"));
        aside = QFile::encodeName(stem + QStringLiteral(".old"));
        const int fd = ::open(staged.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd >= 0 ? fd : -errno;
    }
    return -EEXIST;
}

// A write that stops part-way (the disk filled up, the file grew past the
// size limit) reports a short count and no error; the next write, which
// then writes nothing, says why.
int writeAll(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return ENOSPC;
        data += count;
        size -= std::size_t(count);
    }
    return 0;
}

// The end of a file: what the file system says it holds, in case a write
// claimed more, and the close, where some file systems report a failed
// write.
int finish(int fd, std::size_t size, int error)
{
    struct stat info = {};
    if (error == 0)
        error = ::fstat(fd, &info) != 0 ? errno : std::size_t(info.st_size) != size ? EIO : 0;
    if (::close(fd) != 0 && errno != EINTR && error == 0) error = errno;
    return error;
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

} // namespace

StagedPictures::StagedPictures() = default;

StagedPictures::~StagedPictures()
{
    discard();
}

void StagedPictures::SavePicture(const Picture& picture, const QString& path)
{
    try {
        if (const Staged* failed = firstFailed()) throw saveError(failed->error, failed->path);
        if (picture.isEmpty())
            throw SaveError(RuntimeError::InvalidPicture, QStringLiteral("没有可保存的图片"), path);
        const QString folder = QFileInfo(path).path();
        if (!m_swept.contains(folder)) {
            sweepLeftovers(folder);
            m_swept.append(folder);
        }
        auto staged = std::make_unique<Staged>();
        staged->path = path;
        staged->target = QFile::encodeName(path);
        if (const int error = checkReplaceable(staged->target)) throw saveError(error, path);
        // 32-bit pixels without alpha are what Qt writes as a 24-bit bitmap.
        const QImage image = picture.image().format() == QImage::Format_RGB32
                                 ? picture.image()
                                 : picture.image().convertToFormat(QImage::Format_RGB32);
        if (image.isNull()) throw saveError(ENOMEM, path);
        const std::size_t row = rowBytes(image), pixels = 3 * std::size_t(image.width());
        staged->size = HeaderBytes + row * std::size_t(image.height());
        if (staged->size > 0xFFFFFFFFu) throw saveError(EFBIG, path); // more than a header counts
        const int fd = createStaged(path, staged->staged, staged->aside);
        if (fd < 0) throw saveError(-fd, path);
        staged->fd = fd;
        Staged& file = *m_staged.emplace_back(std::move(staged)); // removed again on a failure
        if (!m_writer.joinable()) m_writer = std::thread([this] { writePieces(); });
        const std::size_t rows = std::max<std::size_t>(1, 512 * 1024 / row);
        for (int y = image.height() - 1; y >= 0;) {
            Piece& piece = freePiece();
            if (piece.capacity < HeaderBytes + rows * row) {
                piece.data.reset(new unsigned char[HeaderBytes + rows * row]);
                piece.capacity = HeaderBytes + rows * row;
            }
            unsigned char* out = piece.data.get();
            if (y == image.height() - 1) out += packHeader(image, out);
            for (std::size_t n = 0; n < rows && y >= 0; ++n, --y, out += row) {
                packRow(reinterpret_cast<const QRgb*>(image.constScanLine(y)), image.width(), out);
                std::memset(out + pixels, 0, row - pixels);
            }
            piece.size = std::size_t(out - piece.data.get());
            piece.file = &file;
            piece.last = y < 0;
            m_filled.release();
            ++m_handedOver;
        }
    } catch (const SaveError& failure) {
        fail(failure);
    } catch (const std::bad_alloc&) {
        fail(saveError(ENOMEM, path));
    } catch (...) {
        discard();
        throw;
    }
}

void StagedPictures::Commit()
{
    try {
        waitForWriter();
        if (const Staged* failed = firstFailed()) throw saveError(failed->error, failed->path);
        for (const auto& staged : m_staged) {
            // The file being replaced gets a second name first, so it can be
            // put back.  Where hard links are not to be had, it is moved
            // aside instead, and put back all the same.
            struct stat info = {};
            if (::lstat(staged->target.constData(), &info) == 0) {
                if (::link(staged->target.constData(), staged->aside.constData()) == 0)
                    staged->oldFile = Aside::Linked;
                else if (::rename(staged->target.constData(), staged->aside.constData()) == 0)
                    staged->oldFile = Aside::Moved;
                else
                    throw saveError(errno, staged->path);
            } else if (errno != ENOENT) {
                throw saveError(errno, staged->path);
            }
            if (::rename(staged->staged.constData(), staged->target.constData()) != 0)
                throw saveError(errno, staged->path);
            staged->placed = true;
        }
    } catch (const SaveError& failure) {
        rollBack();
        fail(failure);
    } catch (...) {
        rollBack();
        discard();
        throw;
    }
    for (const auto& staged : m_staged) {
        if (staged->oldFile != Aside::None) ::unlink(staged->aside.constData());
    }
    m_staged.clear();
    discard(); // ends the writer
}

// The writer's thread.  A file that failed gets no more writes; its last
// piece only closes it.
void StagedPictures::writePieces() noexcept
{
    for (unsigned next = 0;; ++next) {
        m_filled.acquire();
        Piece& piece = m_pieces[next % Slots];
        if (piece.file == nullptr) return;
        Staged& file = *piece.file;
        // Unbuffered, so that a full disk shows as a short write.
        int error = file.error != 0 ? 0 : writeAll(file.fd, piece.data.get(), piece.size);
        if (piece.last) {
            error = finish(file.fd, file.size, file.error != 0 ? file.error.load() : error);
            file.fd = -1;
        }
        if (error != 0) file.error = error;
        m_free.release();
    }
}

StagedPictures::Piece& StagedPictures::freePiece()
{
    m_free.acquire();
    return m_pieces[m_handedOver % Slots];
}

void StagedPictures::waitForWriter() noexcept
{
    for (int n = 0; n < Slots; ++n)
        m_free.acquire();
    m_free.release(Slots);
}

// Reports a failure, or that of an earlier file the writer had not yet
// reached: the files are written in order, so the earliest is the one a
// cut would have met writing one file after another.  Drops what is staged.
void StagedPictures::fail(const SaveError& failure)
{
    waitForWriter();
    const Staged* failed = firstFailed();
    const SaveError earliest = failed ? saveError(failed->error, failed->path) : failure;
    discard();
    throw earliest;
}

// The earliest file the writer could not write, if any.
const StagedPictures::Staged* StagedPictures::firstFailed() const
{
    for (const auto& staged : m_staged) {
        if (staged->error != 0) return staged.get();
    }
    return nullptr;
}

// Undoes a commit that stopped part-way, newest first: each old file gets
// its name back (replacing the new one in a single step), and a name that
// was new goes away.  An old file that cannot be put back keeps its hidden
// name rather than being lost.
void StagedPictures::rollBack() noexcept
{
    for (auto it = m_staged.rbegin(); it != m_staged.rend(); ++it) {
        Staged& staged = **it;
        if (staged.oldFile == Aside::Moved || (staged.placed && staged.oldFile == Aside::Linked)) {
            if (::rename(staged.aside.constData(), staged.target.constData()) == 0)
                staged.oldFile = Aside::None;
        } else if (staged.oldFile == Aside::Linked) {
            ::unlink(staged.aside.constData());
            staged.oldFile = Aside::None;
        } else if (staged.placed) {
            ::unlink(staged.target.constData());
        }
        staged.placed = false;
    }
}

// Ends the writer once it has written what it was given (closing every
// file whose last piece it got), and removes what was staged.
void StagedPictures::discard() noexcept
{
    if (m_writer.joinable()) {
        freePiece().file = nullptr;
        m_filled.release();
        ++m_handedOver;
        m_writer.join();
    }
    for (const auto& staged : m_staged) {
        if (staged->fd >= 0) ::close(staged->fd);
        ::unlink(staged->staged.constData()); // gone already if it was put in place
    }
    m_staged.clear();
}

} // namespace platform
