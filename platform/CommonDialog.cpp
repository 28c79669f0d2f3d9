#include "platform/CommonDialog.h"

#include "platform/ModalHost.h"

#include <QDir>

namespace platform {

void CommonDialog::ShowOpen()
{
    const QString chosen = modalHost().chooseFileToOpen();
    if (!chosen.isEmpty())
        m_fileName = QDir::toNativeSeparators(chosen);
}

} // namespace platform
