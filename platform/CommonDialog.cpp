#include "platform/CommonDialog.h"

#include "platform/ModalHost.h"

#include <QDir>
#include <QStandardPaths>

namespace platform {

void CommonDialog::ShowOpen()
{
    QString folder = m_initDir;
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!QDir(folder).exists()) folder = QDir::homePath();
    const QString chosen = modalHost().chooseFileToOpen(folder);
    if (!chosen.isEmpty()) m_fileName = QDir::toNativeSeparators(chosen);
}

} // namespace platform
