#include "platform/SystemErrorText.h"

#include <utility>

#include <windows.h>

namespace platform {

// The system's own texts follow the language Windows was installed in; ours are always the
// window's.
QString systemErrorText(int error)
{
    static constexpr std::pair<int, const char*> texts[] = {
        {ERROR_FILE_NOT_FOUND, "找不到文件"},
        {ERROR_PATH_NOT_FOUND, "找不到文件夹"},
        {ERROR_INVALID_NAME, "文件名或路径不正确"},
        {ERROR_DIRECTORY, "这是一个文件夹"},
        {ERROR_ACCESS_DENIED, "没有权限，或文件是只读的"},
        {ERROR_WRITE_PROTECT, "磁盘是写保护的"},
        {ERROR_SHARING_VIOLATION, "文件正被另一个程序使用"},
        {ERROR_LOCK_VIOLATION, "文件正被另一个程序使用"},
        {ERROR_DISK_FULL, "磁盘空间不足"},
        {ERROR_HANDLE_DISK_FULL, "磁盘空间不足"},
        {ERROR_FILE_TOO_LARGE, "文件太大"},
        {ERROR_FILENAME_EXCED_RANGE, "文件名太长"},
        {ERROR_NOT_ENOUGH_MEMORY, "内存不足"},
        {ERROR_OUTOFMEMORY, "内存不足"},
        {ERROR_TOO_MANY_OPEN_FILES, "打开的文件太多"},
        {ERROR_NOT_READY, "设备未就绪"},
        {ERROR_CRC, "读写设备出错"},
        {ERROR_NOT_SUPPORTED, "文件系统不支持此操作"},
    };
    for (const auto& [number, text] : texts)
        if (number == error) return QString::fromUtf8(text);
    return QStringLiteral("系统错误 %1").arg(error);
}

} // namespace platform
