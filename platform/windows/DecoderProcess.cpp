// Decoding in a process of its own: the program starts a copy of itself that decodes one
// picture under limits of processor time and memory kept by a job object, and hands the rows
// back in a file mapping. Whatever a picture library does with a file, at worst that copy dies
// and the picture is refused; the window never does.
#include "platform/SystemErrorText.h"
#include "platform/decode/Decoders.h"

#include <QtPlugin>

#include <cstring>
#include <cwchar>
#include <thread>

#include <io.h>
#include <windows.h>

// Qt's image plug-ins built into the program.
extern const QStaticPlugin qt_static_plugin_QGifPlugin();
extern const QStaticPlugin qt_static_plugin_QICOPlugin();
extern const QStaticPlugin qt_static_plugin_QJpegPlugin();

namespace platform::decode {
namespace {

// The memory the copy may take: a picture at the allocation limit and half as much again for
// the decoder's own buffers and the libraries.
constexpr qint64 kDecodingBytes = qint64(kAllocationLimitMb) * 3 / 2 * 1024 * 1024;
// Processor time, in the 100 ns units Windows counts in: the copy stops itself a little before
// three seconds, so that a refusal still comes within three, and the job stops it at three.
// Ten seconds on the clock at most.
constexpr ULONGLONG kProcessorTime = 28'000'000, kJobProcessorTime = 30'000'000;
constexpr DWORD kDeadlineMs = 10'000, kTooLong = 4; // the copy's status when it stops itself
struct Answer
{
    qint32 width, height, turn;
    quint64 rows;    // the mapping that holds them, as the parent's handle
    char error[256]; // UTF-8, the reason when there is no picture
};

ULONGLONG processorTime(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    const auto count = [](FILETIME t) {
        return ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime;
    };
    return count(kernel) + count(user);
}

// The copy: the picture, then the answer, then gone. A crash ends it quietly, without the
// system's report box. It starts before the program's own static objects are made, the list
// of built-in plug-ins among them, so it lists the image plug-ins itself.
[[noreturn]] void decodeForParent(HANDLE picture, HANDLE parent, HANDLE answers)
{
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { ::ExitProcess(3); });
    // The job's limit on processor time, kept here too, as Wine does not keep it.
    std::thread([] {
        while (processorTime(::GetCurrentProcess()) < kProcessorTime)
            ::Sleep(20);
        ::ExitProcess(kTooLong);
    }).detach();
    for (const auto plugin :
         {qt_static_plugin_QGifPlugin, qt_static_plugin_QICOPlugin, qt_static_plugin_QJpegPlugin})
        qRegisterStaticPluginFunction(plugin());
    QFile file;
    const int fd = ::_open_osfhandle(intptr_t(picture), 0);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ||
        !file.seek(0))
        ::ExitProcess(1);
    const DecodedPicture decoded = decodeOpenFile(file); // memory running out ends it: a crash
    const QImage& image = decoded.image; // RGB32: its rows follow one another without gaps
    Answer answer{image.width(), image.height(), qint32(decoded.turn.toInt()), 0, {}};
    const QByteArray error = decoded.error.toUtf8().left(sizeof answer.error - 1);
    std::memcpy(answer.error, error.constData(), size_t(error.size()));
    if (!image.isNull()) {
        const auto bytes = quint64(image.sizeInBytes());
        const HANDLE rows = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                 DWORD(bytes >> 32), DWORD(bytes), nullptr);
        void* view = rows ? ::MapViewOfFile(rows, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
        HANDLE theirs = nullptr;
        if (!view || !::DuplicateHandle(::GetCurrentProcess(), rows, parent, &theirs, 0, FALSE,
                                        DUPLICATE_SAME_ACCESS))
            ::ExitProcess(1);
        std::memcpy(view, image.constBits(), bytes);
        answer.rows = quint64(theirs);
    }
    DWORD written = 0;
    ::ExitProcess(::WriteFile(answers, &answer, sizeof answer, &written, nullptr) &&
                          written == sizeof answer
                      ? 0
                      : 1);
}

// The copy is whatever program decodes (the window, a test), so it is recognised by its command
// line before main() runs: the program's name, then the three handles it inherited.
[[maybe_unused]] const bool g_child = [] {
    unsigned long long picture = 0, parent = 0, answers = 0;
    return std::swscanf(::GetCommandLineW(), L"tessarine-decoder %llu %llu %llu", &picture, &parent,
                        &answers) == 3 &&
           (decodeForParent(HANDLE(picture), HANDLE(parent), HANDLE(answers)), true);
}();

HANDLE inheritable(HANDLE handle, DWORD access, DWORD options)
{
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    return ::DuplicateHandle(self, handle, self, &copy, access, TRUE, options) ? copy : nullptr;
}

} // namespace

DecodedPicture decodeInChild(int fd)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE answers = nullptr, theirAnswers = nullptr;
    if (!::CreatePipe(&answers, &theirAnswers, &inherit, sizeof(Answer)))
        return failure(systemErrorText(int(::GetLastError())));
    ::SetHandleInformation(answers, HANDLE_FLAG_INHERIT, 0);
    const HANDLE picture = inheritable(HANDLE(::_get_osfhandle(fd)), 0, DUPLICATE_SAME_ACCESS);
    const HANDLE parent = inheritable(::GetCurrentProcess(), PROCESS_DUP_HANDLE, 0);
    wchar_t program[MAX_PATH * 4] = {};
    std::wstring command = L"tessarine-decoder " + std::to_wstring(quint64(picture)) + L' ' +
                           std::to_wstring(quint64(parent)) + L' ' +
                           std::to_wstring(quint64(theirAnswers));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const bool started =
        picture && parent && ::GetModuleFileNameW(nullptr, program, DWORD(std::size(program))) &&
        ::CreateProcessW(program, command.data(), nullptr, nullptr, TRUE,
                         CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child);
    const int error = started ? 0 : int(::GetLastError());
    for (const HANDLE theirs : {picture, parent, theirAnswers})
        if (theirs) ::CloseHandle(theirs);
    if (!started) {
        ::CloseHandle(answers);
        return failure(systemErrorText(error));
    }
    // The job kills the copy when it passes its limits, or when we close the job.
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_PROCESS_TIME | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart = LONGLONG(kJobProcessorTime);
    limits.ProcessMemoryLimit = SIZE_T(kDecodingBytes);
    if (job)
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (job) ::AssignProcessToJobObject(job, child.hProcess);
    ::ResumeThread(child.hThread);
    if (::WaitForSingleObject(child.hProcess, kDeadlineMs) == WAIT_TIMEOUT)
        ::TerminateProcess(child.hProcess, kTooLong);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 1, read = 0;
    ::GetExitCodeProcess(child.hProcess, &status);
    Answer answer{};
    const bool answered = status == 0 &&
                          ::ReadFile(answers, &answer, sizeof answer, &read, nullptr) &&
                          read == sizeof answer;
    answer.error[sizeof answer.error - 1] = 0;
    for (const HANDLE handle : {answers, child.hThread, child.hProcess, job})
        if (handle) ::CloseHandle(handle);
    const auto rows = HANDLE(answered ? answer.rows : 0);
    const qint64 bytes = qint64(answer.width) * answer.height * 4;
    void* view = rows && fitsAllocationLimit(answer.width, answer.height)
                     ? ::MapViewOfFile(rows, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, SIZE_T(bytes))
                     : nullptr;
    if (rows) ::CloseHandle(rows); // the view keeps the mapping
    if (status == kTooLong) return failure(QStringLiteral("图片过于复杂，无法及时解码"));
    if (answer.error[0]) return failure(QString::fromUtf8(answer.error));
    if (!view) return failure(QStringLiteral("解码图片时出错"));
    // The rows are mapped, not copied; the picture unmaps them when it goes.
    const QImage image(
        static_cast<uchar*>(view), answer.width, answer.height, QImage::Format_RGB32,
        [](void* at) { ::UnmapViewOfFile(at); }, view);
    return {image, {}, QImageIOHandler::Transformations::fromInt(answer.turn)};
}

} // namespace platform::decode
