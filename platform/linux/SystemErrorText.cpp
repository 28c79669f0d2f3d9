#include "platform/SystemErrorText.h"

#include <cerrno>
#include <utility>

namespace platform {

QString systemErrorText(int error)
{
    static constexpr std::pair<int, const char*> texts[] = {
        {ENOENT, "找不到文件或文件夹"},
        {ENOTDIR, "路径中有一项不是文件夹"},
        {EISDIR, "这是一个文件夹"},
        {EACCES, "没有权限"},
        {EPERM, "没有权限"},
        {EROFS, "磁盘是只读的"},
        {ENOSPC, "磁盘空间不足"},
        {EDQUOT, "超出磁盘配额"},
        {EIO, "读写设备出错"},
        {EFBIG, "文件太大"},
        {ENAMETOOLONG, "文件名太长"},
        {EBUSY, "文件正被占用"},
        {ETXTBSY, "文件正被占用"},
        {ENOMEM, "内存不足"},
        {EMFILE, "打开的文件太多"},
        {ENFILE, "打开的文件太多"},
        {ELOOP, "符号链接循环"},
    };
    for (const auto& [number, text] : texts)
        if (number == error) return QString::fromUtf8(text);
    return QStringLiteral("系统错误 %1").arg(error);
}

} // namespace platform
