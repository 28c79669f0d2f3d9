#include "platform/DataObject.h"

#include "platform/RuntimeError.h"

namespace platform {

QString DataObject::Files(int index) const
{
    if (index < 1 || index > m_files.size())
        throw RuntimeError(RuntimeError::InvalidProcedureCall,
                           QStringLiteral("The dropped data holds no file %1").arg(index));
    return m_files.at(index - 1);
}

} // namespace platform
