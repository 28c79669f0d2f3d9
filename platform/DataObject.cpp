#include "platform/DataObject.h"

#include "platform/RuntimeError.h"

namespace platform {

QString DataObject::Files(int index) const
{
    if (index < 1 || index > m_files.size() || m_files.at(index - 1).isEmpty())
        throw RuntimeError(RuntimeError::InvalidProcedureCall,
                           QStringLiteral("拖放的内容里没有文件"));
    return m_files.at(index - 1);
}

} // namespace platform
