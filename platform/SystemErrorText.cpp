#include "platform/SystemErrorText.h"

#include <cerrno>

namespace platform {

QString systemErrorText(int error)
{
    switch (error) {
    case ENOENT:
        return QStringLiteral("找不到文件或文件夹");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case EROFS:
        return QStringLiteral("磁盘是只读的");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case EDQUOT:
        return QStringLiteral("超出磁盘配额");
    case EIO:
        return QStringLiteral("读写设备出错");
    case EFBIG:
        return QStringLiteral("文件太大");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被占用");
    case ENOMEM:
        return QStringLiteral("内存不足");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("打开的文件太多");
    case ELOOP:
        return QStringLiteral("符号链接循环");
    default:
        return QStringLiteral("系统错误 %1").arg(error);
    }
}

} // namespace platform
