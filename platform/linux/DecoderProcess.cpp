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
#include <poll.h>
#include <seccomp.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::decode {
namespace {

// The copy's arguments, which also make the application it may need one on no screen. The copy
// is whatever program decodes (the window, a test, the fuzz target), so it is recognised by its
// name before main() runs, by the initialiser below.
char* g_arguments[] = {const_cast<char*>("tessarine-decoder"), const_cast<char*>("-platform"),
                       const_cast<char*>("offscreen"), nullptr};
int g_argumentCount = 3;
// The memory the copy may take: a picture at the allocation limit and half as much again for
// the decoder's own buffers and the libraries.
constexpr qint64 kDecodingBytes = qint64(kAllocationLimitMb) * 3 / 2 * 1024 * 1024;
constexpr int kPictureFd = 3, kRowsFd = 4; // where the copy finds the picture and its answer
// The answer at the start of the shared memory; the rows follow from the next page on.
constexpr qint64 kRowsAt = 4096;
struct Answer
{
    qint32 width, height, turn;
    char error[256]; // UTF-8, the reason when there is no picture
};

// Refused with EPERM in the copy: reaching the network, starting programs, changing the file
// tree, another process's memory, and new processes that would outlive the copy's kill.
constexpr char kRefused[] =
    "socket socketpair execve execveat creat unlink unlinkat rename renameat renameat2 truncate "
    "link linkat symlink symlinkat mkdir mkdirat rmdir mknod mknodat chmod fchmodat ptrace fork "
    "vfork io_uring_setup process_vm_writev";

// Reading stays allowed (libwmf and Qt read fonts); opening for writing does not. openat2 and
// clone3 pass their flags in memory a filter cannot read: refused as unknown, callers fall back.
bool wallOff()
{
    const scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    const auto refuse = [&](int call, int error, auto... conditions) {
        return seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, sizeof...(conditions),
                                conditions...) == 0;
    };
    bool walled =
        filter && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
        refuse(SCMP_SYS(clone), EPERM, scmp_arg_cmp{0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0}) &&
        refuse(SCMP_SYS(openat2), ENOSYS) && refuse(SCMP_SYS(clone3), ENOSYS);
    for (const QByteArray& call : QByteArray(kRefused).split(' '))
        walled = walled && refuse(seccomp_syscall_resolve_name(call.constData()), EPERM);
    for (const scmp_datum_t flag : {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC})
        walled = walled &&
                 refuse(SCMP_SYS(open), EPERM, scmp_arg_cmp{1, SCMP_CMP_MASKED_EQ, flag, flag}) &&
                 refuse(SCMP_SYS(openat), EPERM, scmp_arg_cmp{2, SCMP_CMP_MASKED_EQ, flag, flag});
    walled = walled && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return walled;
}

// The copy: limits first, then the walls, then the picture; the answer, then gone. Processor
// time is stopped by its timer a little before three seconds, so that a refusal still comes
// within three; the hard limit also ends a copy that catches the timer's signal.
[[noreturn]] void decodeForParent()
{
    const itimerval stop{{}, {2, 800000}};
    const rlimit cpu{3, 3}, core{0, 0}, memory{kDecodingBytes, kDecodingBytes};
    QFile file;
    if (::setitimer(ITIMER_PROF, &stop, nullptr) != 0 || ::setrlimit(RLIMIT_CPU, &cpu) != 0 ||
        ::setrlimit(RLIMIT_CORE, &core) != 0 || ::lseek(kPictureFd, 0, SEEK_SET) != 0 ||
        !file.open(kPictureFd, QIODevice::ReadOnly) ||
        (!TESSARINE_SANITIZED && ::setrlimit(RLIMIT_AS, &memory) != 0))
        ::_exit(1);
    // Enhanced metafiles are drawn with Qt's painter, whose text needs fonts and so an
    // application; it reads its configuration before the walls go up.
    if (looksLikeEmf(file.peek(kSniffBytes))) new QGuiApplication(g_argumentCount, g_arguments);
    if (!wallOff()) ::_exit(1);
    const DecodedPicture decoded = decodeOpenFile(file); // memory running out ends it: a crash
    const QImage& image = decoded.image; // RGB32: its rows follow one another without gaps
    Answer answer{image.width(), image.height(), qint32(decoded.turn.toInt()), {}};
    const QByteArray error = decoded.error.toUtf8().left(sizeof answer.error - 1);
    std::memcpy(answer.error, error.constData(), size_t(error.size()));
    const bool told = ::pwrite(kRowsFd, &answer, sizeof answer, 0) == sizeof answer;
    const qint64 bytes = image.sizeInBytes();
    ::_exit(told && ::pwrite(kRowsFd, image.constBits(), size_t(bytes), kRowsAt) == bytes ? 0 : 1);
}

[[maybe_unused]] const bool g_child =
    std::strcmp(program_invocation_name, g_arguments[0]) == 0 && (decodeForParent(), true);

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
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, g_arguments, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    // Ten seconds on the clock at most (pidfd_open has no C++ declaration in glibc 2.36).
    const int handle = spawned == 0 ? int(::syscall(SYS_pidfd_open, pid, 0)) : -1;
    pollfd exited{handle, POLLIN, 0};
    if (spawned == 0 && (handle < 0 || ::poll(&exited, 1, 10000) != 1)) ::kill(pid, SIGKILL);
    int status = 0;
    while (spawned == 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(handle);
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    Answer answer{};
    const bool answered =
        spawned == 0 && status == 0 && ::pread(rows, &answer, sizeof answer, 0) == sizeof answer;
    answer.error[sizeof answer.error - 1] = 0;
    // The rows are mapped, not copied; the picture unmaps them when it goes.
    const qint64 bytes = kRowsAt + qint64(answer.width) * answer.height * 4;
    void* shared = answered && !answer.error[0] &&
                           fitsAllocationLimit(answer.width, answer.height) &&
                           ::lseek(rows, 0, SEEK_END) >= bytes
                       ? ::mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, rows, 0)
                       : MAP_FAILED;
    ::close(rows);
    if (spawned != 0) return failure(systemErrorText(spawned));
    if (signal == SIGPROF || signal == SIGXCPU || signal == SIGKILL)
        return failure(QStringLiteral("图片过于复杂，无法及时解码"));
    if (answer.error[0]) return failure(QString::fromUtf8(answer.error));
    if (shared == MAP_FAILED) return failure(QStringLiteral("解码图片时出错"));
    std::memcpy(shared, &bytes, sizeof bytes); // the length, for the picture's cleanup
    const auto unmap = [](void* at) { ::munmap(at, *static_cast<size_t*>(at)); };
    const QImage image(static_cast<uchar*>(shared) + kRowsAt, answer.width, answer.height,
                       QImage::Format_RGB32, unmap, shared);
    return {image, {}, QImageIOHandler::Transformations::fromInt(answer.turn)};
}

} // namespace platform::decode
