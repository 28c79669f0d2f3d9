// Decoding in a process of its own: the program starts a copy of itself that decodes one
// picture under limits of processor time and memory, walled off from the network and from
// writing files, and hands the rows back in shared memory. Whatever a picture library does with
// a file, at worst that copy dies and the picture is refused; the window never does.
#include "platform/SystemErrorText.h"
#include "platform/decode/Decoders.h"

#include <QGuiApplication>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <seccomp.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform::decode {
namespace {

// Set in the copy's environment; the copy is whatever program decodes (the window, a test, the
// fuzz target), so it is recognised before main() by the initialiser at the end of this file.
constexpr char kChildMode[] = "TESSARINE_DECODING_CHILD=1";
constexpr int kPictureFd = 3, kRowsFd = 4; // where the copy finds the picture and its answer
// The answer at the start of the shared memory; the rows follow from the next page on.
constexpr qint64 kRowsAt = 4096;
struct Answer
{
    qint32 width, height;
    quint32 turn;
    char error[256]; // UTF-8, the reason when there is no picture
};

// Refused with EPERM in the copy: reaching the network, starting programs, changing the file
// tree, another process's memory, and new processes that would outlive the copy's kill.
constexpr int kRefused[] = {
    SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(execve), SCMP_SYS(execveat),
    SCMP_SYS(creat), SCMP_SYS(unlink), SCMP_SYS(unlinkat), SCMP_SYS(rename), SCMP_SYS(renameat),
    SCMP_SYS(renameat2), SCMP_SYS(truncate), SCMP_SYS(link), SCMP_SYS(linkat), SCMP_SYS(symlink),
    SCMP_SYS(symlinkat), SCMP_SYS(mkdir), SCMP_SYS(mkdirat), SCMP_SYS(rmdir), SCMP_SYS(mknod),
    SCMP_SYS(mknodat), SCMP_SYS(chmod), SCMP_SYS(fchmodat), SCMP_SYS(chown), SCMP_SYS(lchown),
    SCMP_SYS(fchownat), SCMP_SYS(io_uring_setup), SCMP_SYS(ptrace), SCMP_SYS(process_vm_writev),
    SCMP_SYS(fork), SCMP_SYS(vfork)};

// Reading stays allowed (libwmf and Qt read fonts); opening for writing does not. openat2 and
// clone3 pass their flags in memory a filter cannot read: refused as unknown, callers fall back.
bool wallOff()
{
    const scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    bool walled = filter && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    for (const int call : kRefused)
        walled = walled && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) == 0;
    for (const scmp_datum_t flag : {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC})
        walled = walled &&
                 !seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(open), 1,
                                   SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)) &&
                 !seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(openat), 1,
                                   SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag));
    walled = walled &&
             !seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                               SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) &&
             !seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) &&
             !seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) &&
             seccomp_load(filter) == 0;
    seccomp_release(filter);
    return walled;
}

bool writeAll(const void* data, qint64 size, qint64 at)
{
    for (qint64 done = 0, n = 0; done < size; done += n)
        if ((n = ::pwrite(kRowsFd, static_cast<const char*>(data) + done, size_t(size - done),
                          at + done)) <= 0)
            return false;
    return true;
}

// The copy: limits first, then the walls, then the picture; the answer, then gone.
[[noreturn]] void decodeForParent()
{
    // Processor time: stopped by its timer a little before three seconds, so that a refusal
    // still comes within three; the limit also ends a copy that catches the timer's signal.
    const itimerval stop{{}, {2, 800000}};
    const rlimit cpu{3, 3}, none{0, 0};
    bool limited = ::setitimer(ITIMER_PROF, &stop, nullptr) == 0 &&
                   ::setrlimit(RLIMIT_CPU, &cpu) == 0 && ::setrlimit(RLIMIT_CORE, &none) == 0;
#ifndef TESSARINE_SANITIZED // AddressSanitizer reserves terabytes of address space for itself
    const rlimit memory{kDecodingBytes, kDecodingBytes};
    limited = limited && ::setrlimit(RLIMIT_AS, &memory) == 0;
#endif
    QFile file;
    if (!limited || ::lseek(kPictureFd, 0, SEEK_SET) != 0 ||
        !file.open(kPictureFd, QIODevice::ReadOnly))
        ::_exit(1);
    // Enhanced metafiles are drawn with Qt's painter, whose text needs fonts and so an
    // application, on no screen; it reads its configuration before the walls go up.
    static int argc = 3;
    static char* argv[] = {const_cast<char*>("tessarine"), const_cast<char*>("-platform"),
                           const_cast<char*>("offscreen"), nullptr};
    if (looksLikeEmf(file.peek(kSniffBytes))) new QGuiApplication(argc, argv);
    if (!wallOff()) ::_exit(1);
    DecodedPicture decoded;
    try {
        decoded = decodeOpenFile(file);
    } catch (const std::bad_alloc&) {
        decoded = failure(QStringLiteral("内存不足"));
    }
    const QImage& image = decoded.image;
    Answer answer{image.width(), image.height(), decoded.turn.toInt(), {}};
    const QByteArray error = decoded.error.toUtf8().left(sizeof answer.error - 1);
    std::memcpy(answer.error, error.constData(), size_t(error.size()));
    bool answered = writeAll(&answer, sizeof answer, 0);
    const qint64 row = qint64(image.width()) * 4;
    for (int y = 0; y < image.height() && answered; ++y)
        answered = writeAll(image.constScanLine(y), row, kRowsAt + y * row);
    ::_exit(answered ? 0 : 1);
}

[[maybe_unused]] const bool g_child = ::getenv("TESSARINE_DECODING_CHILD") &&
                                      (decodeForParent(), true);

// Ends the copy at `deadline` (milliseconds) on the clock at the latest, and reaps it.
int waitFor(pid_t pid, int deadline)
{
    const int handle = int(::syscall(SYS_pidfd_open, pid, 0)); // no C++ declaration in glibc 2.36
    pollfd exited{handle, POLLIN, 0};
    if (handle < 0 || ::poll(&exited, 1, deadline) != 1) ::kill(pid, SIGKILL);
    if (handle >= 0) ::close(handle);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

DecodedPicture answerIn(int rows)
{
    Answer answer{};
    struct stat info
    {
    };
    if (::pread(rows, &answer, sizeof answer, 0) != sizeof answer || ::fstat(rows, &info) != 0)
        return failure(QStringLiteral("解码图片时出错"));
    answer.error[sizeof answer.error - 1] = 0;
    if (answer.error[0] != 0) return failure(QString::fromUtf8(answer.error));
    const qint64 bytes = kRowsAt + qint64(answer.width) * answer.height * 4;
    if (!fitsAllocationLimit(answer.width, answer.height) || info.st_size < bytes)
        return failure(QStringLiteral("解码图片时出错"));
    void* shared = ::mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, rows, 0);
    if (shared == MAP_FAILED) return failure(systemErrorText(errno));
    // The picture's cleanup needs the mapping's length: kept in its first bytes.
    std::memcpy(shared, &bytes, sizeof bytes);
    QImage image(
        static_cast<uchar*>(shared) + kRowsAt, answer.width, answer.height, QImage::Format_RGB32,
        [](void* at) { ::munmap(at, size_t(*static_cast<qint64*>(at))); }, shared);
    return {std::move(image), {}, QImageIOHandler::Transformations::fromInt(answer.turn)};
}

} // namespace

DecodedPicture decodeInChild(int fd)
{
    const int rows = ::memfd_create("tessarine-picture", MFD_CLOEXEC);
    if (rows < 0) return failure(systemErrorText(errno));
    // The picture was opened before the memory, so it never sits where the memory must go.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fd, kPictureFd);
    ::posix_spawn_file_actions_adddup2(&actions, rows, kRowsFd);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, kRowsFd + 1);
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        environment.push_back(*variable);
    environment.push_back(const_cast<char*>(kChildMode));
    environment.push_back(nullptr);
    char* argv[] = {const_cast<char*>("tessarine-decoder"), nullptr};
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environment.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ::close(rows);
        return failure(systemErrorText(spawned));
    }
    const int status = waitFor(pid, 10000);
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    DecodedPicture decoded =
        signal == SIGPROF || signal == SIGXCPU || signal == SIGKILL
            ? failure(QStringLiteral("图片过于复杂，无法及时解码"))
        : status != 0 ? failure(QStringLiteral("解码图片时出错"))
                      : answerIn(rows);
    ::close(rows);
    return decoded;
}

} // namespace platform::decode
