#include "platform/StagedPictures.h"

#include "platform/SystemErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

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
    // Closed by the writer once it has the last chunk, by discard() if the
    // last chunk never came.  Guarded by the writer's mutex, as is `error`.
    int fd = -1;
    int error = 0;
    Aside oldFile = Aside::None;
    bool placed = false;
};

// One thread writes the files, chunk by chunk, while the caller packs the
// next chunks and draws the next picture: the work of a cut is split over
// two cores.  A few chunks of about 512 KiB go round between them, so the
// memory they need stays in the cache and is touched for the first time
// only once.  (A whole bitmap a picture, or a shared picture that the caller
// would have to copy before drawing again, costs more in first touches of
// fresh memory than the packing itself.)
struct StagedPictures::Writer
{
    struct Buffer
    {
        std::unique_ptr<unsigned char[]> data;
        std::size_t capacity = 0;
    };
    struct Chunk
    {
        Buffer buffer;
        std::size_t size = 0;
        Staged* file = nullptr;
        bool last = false;
    };
    static constexpr std::size_t ChunkBytes = 512 * 1024;
    static constexpr int MaxBuffers = 4;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Chunk> queue;
    std::vector<Buffer> idle;
    int buffers = 0;
    bool busy = false;      // a chunk is being written
    bool cancelled = false; // write nothing more, only close the files
    bool stopping = false;  // end when the queue is empty
    std::thread thread;     // last, so that it starts on a complete object

    // The writer hands buffers back without allocating: it may not throw.
    Writer() : thread([this] { run(); }) { idle.reserve(MaxBuffers); }
    void run() noexcept;
    void add(const QImage& image, Staged& file);
    Buffer take(std::size_t capacity);
    void waitUntilIdle();
    void stop() noexcept;
};

namespace {

// A name that exists but is a FIFO, socket or device: no errno says that.
constexpr int NotRegularFile = -1;

RuntimeError::Number numberFor(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case ETXTBSY:
        return RuntimeError::PermissionDenied;
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case NotRegularFile:
        return RuntimeError::PathNotFound;
    default:
        return RuntimeError::DeviceIOError;
    }
}

SaveError saveError(int error, const QString& path)
{
    return SaveError(numberFor(error),
                     error == NotRegularFile ? QStringLiteral("这不是普通文件，不能替换")
                                             : systemErrorText(error),
                     path);
}

int openFile(const QByteArray& name, int flags)
{
    int fd = -1;
    do
        fd = ::open(name.constData(), flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
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
    const int fd = openFile(target, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY);
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
// the process, O_EXCL against anything already there.  Returns the file
// descriptor, or -errno.
int createStaged(const QString& path, QByteArray& staged, QByteArray& aside)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString stem = info.path() + QStringLiteral("/.") + info.fileName() +
                             QStringLiteral(".tessarine-%1-%2").arg(::getpid()).arg(++counter);
        staged = QFile::encodeName(stem + QStringLiteral(".new"));
        aside = QFile::encodeName(stem + QStringLiteral(".old"));
        const int fd = openFile(staged, O_WRONLY | O_CREAT | O_EXCL);
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

void putLE(unsigned char* at, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
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

constexpr std::size_t bitmapHeaderSize = 54;

std::size_t bitmapRowBytes(const QImage& image)
{
    return (std::size_t(image.width()) * 3 + 3) & ~std::size_t(3);
}

// The header of a 24-bit Windows bitmap, byte for byte what Qt's "bmp"
// writer makes of an RGB32 image: the rows follow from the bottom up, three
// bytes a pixel, each row padded to 4 bytes with zeros.
void packHeader(const QImage& image, unsigned char* out)
{
    const std::size_t imageBytes = bitmapRowBytes(image) * std::size_t(image.height());
    std::memset(out, 0, bitmapHeaderSize);
    out[0] = 'B';
    out[1] = 'M';
    putLE(out + 2, quint32(bitmapHeaderSize + imageBytes), 4);
    putLE(out + 10, quint32(bitmapHeaderSize), 4); // where the rows start
    putLE(out + 14, 40, 4);                        // size of the info header
    putLE(out + 18, quint32(image.width()), 4);
    putLE(out + 22, quint32(image.height()), 4);
    putLE(out + 26, 1, 2);  // planes
    putLE(out + 28, 24, 2); // bits a pixel; 30: no compression
    putLE(out + 34, quint32(imageBytes), 4);
    putLE(out + 38, quint32(image.dotsPerMeterX()), 4);
    putLE(out + 42, quint32(image.dotsPerMeterY()), 4);
}

// The last write of a file: what the file system says it holds, in case a
// write claimed more, and the close, where some file systems report a
// failed write.
int finish(int fd, std::size_t size, int error)
{
    struct stat info = {};
    if (error == 0 && ::fstat(fd, &info) != 0)
        error = errno;
    else if (error == 0 && std::size_t(info.st_size) != size)
        error = EIO;
    if (::close(fd) != 0 && errno != EINTR && error == 0) error = errno;
    return error;
}

} // namespace

void StagedPictures::Writer::run() noexcept
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty()) return;
        Chunk chunk = std::move(queue.front());
        queue.pop_front();
        busy = true;
        const bool skip = cancelled || chunk.file->error != 0;
        const int fd = chunk.file->fd;
        lock.unlock();
        // Unbuffered, so a full disk shows here, as a short write.
        int error = skip ? 0 : writeAll(fd, chunk.buffer.data.get(), chunk.size);
        if (chunk.last) error = finish(fd, chunk.file->size, error);
        lock.lock();
        if (error != 0 && !skip && chunk.file->error == 0) chunk.file->error = error;
        if (chunk.last) chunk.file->fd = -1;
        idle.push_back(std::move(chunk.buffer));
        busy = false;
        changed.notify_all();
    }
}

// A buffer of at least `capacity` bytes: an idle one, a new one while there
// are fewer than MaxBuffers, else the next one the writer is done with.
StagedPictures::Writer::Buffer StagedPictures::Writer::take(std::size_t capacity)
{
    Buffer buffer;
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !idle.empty() || buffers < MaxBuffers; });
        if (idle.empty()) {
            ++buffers;
        } else {
            buffer = std::move(idle.back());
            idle.pop_back();
        }
    }
    if (buffer.capacity < capacity) {
        buffer.data.reset(); // counted already: no lock needed to replace it
        buffer.data.reset(new unsigned char[capacity]);
        buffer.capacity = capacity;
    }
    return buffer;
}

void StagedPictures::Writer::add(const QImage& image, Staged& file)
{
    const int width = image.width();
    const std::size_t rowBytes = bitmapRowBytes(image);
    const std::size_t padding = rowBytes - 3 * std::size_t(width);
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, ChunkBytes / rowBytes);
    bool first = true;
    for (int y = image.height() - 1; y >= 0;) {
        Chunk chunk{take(bitmapHeaderSize + rowsPerChunk * rowBytes), 0, &file, false};
        unsigned char* out = chunk.buffer.data.get();
        if (first) {
            packHeader(image, out);
            out += bitmapHeaderSize;
            first = false;
        }
        for (std::size_t n = 0; n < rowsPerChunk && y >= 0; ++n, --y, out += rowBytes) {
            packRow(reinterpret_cast<const QRgb*>(image.constScanLine(y)), width, out);
            std::memset(out + rowBytes - padding, 0, padding);
        }
        chunk.size = std::size_t(out - chunk.buffer.data.get());
        {
            const std::lock_guard lock(mutex);
            if (file.error != 0) y = -1; // no use packing the rest; this chunk only closes the file
            chunk.last = y < 0;
            queue.push_back(std::move(chunk));
        }
        changed.notify_all();
    }
}

void StagedPictures::Writer::waitUntilIdle()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return queue.empty() && !busy; });
}

void StagedPictures::Writer::stop() noexcept
{
    {
        const std::lock_guard lock(mutex);
        cancelled = true;
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

StagedPictures::StagedPictures() = default;

StagedPictures::~StagedPictures()
{
    discard();
}

void StagedPictures::SavePicture(const Picture& picture, const QString& path)
{
    try {
        throwEarliestFailure();
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
        staged->size = bitmapHeaderSize + bitmapRowBytes(image) * std::size_t(image.height());
        if (staged->size > 0xFFFFFFFFu)
            throw saveError(EFBIG, path); // more than the header can count
        const int fd = createStaged(path, staged->staged, staged->aside);
        if (fd < 0) throw saveError(-fd, path);
        staged->fd = fd;
        Staged& added =
            *m_staged.emplace_back(std::move(staged)); // removed again if anything fails
        if (!m_writer) m_writer = std::make_unique<Writer>();
        m_writer->add(image, added);
    } catch (const SaveError& failure) {
        failEarliest(failure);
    } catch (const std::bad_alloc&) {
        failEarliest(saveError(ENOMEM, path));
    } catch (...) {
        discard();
        throw;
    }
}

void StagedPictures::Commit()
{
    try {
        if (m_writer) m_writer->waitUntilIdle();
        throwEarliestFailure();
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
        failEarliest(failure);
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

// The failure of the earliest file that failed, as soon as the writer has
// found it; the files are written in order, so it is the first one a cut
// would have met writing one file after another.
void StagedPictures::throwEarliestFailure()
{
    if (!m_writer) return;
    const std::lock_guard lock(m_writer->mutex);
    for (const auto& staged : m_staged) {
        if (staged->error != 0) throw saveError(staged->error, staged->path);
    }
}

// Reports a failure, or that of an earlier file that the writer meets
// before it has caught up, and drops everything staged.
void StagedPictures::failEarliest(const SaveError& failure)
{
    try {
        if (m_writer) m_writer->waitUntilIdle();
        throwEarliestFailure();
    } catch (const SaveError&) {
        discard();
        throw;
    }
    discard();
    throw failure;
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

void StagedPictures::discard() noexcept
{
    if (m_writer) {
        m_writer->stop(); // closes every file whose last chunk it was given
        m_writer.reset();
    }
    for (const auto& staged : m_staged) {
        if (staged->fd >= 0) ::close(staged->fd);
        ::unlink(staged->staged.constData()); // gone already if it was put in place
    }
    m_staged.clear();
}

} // namespace platform
