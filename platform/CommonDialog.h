#pragma once

#include <QString>

namespace platform {

// The open-file dialog component.  It has no look of its own; ShowOpen runs
// the modal dialog and leaves the chosen full path in FileName, or leaves
// FileName as it was when the person cancels.  It starts in InitDir, or,
// without one, in the user's Pictures folder (else the home folder).
class CommonDialog
{
public:
    [[nodiscard]] QString FileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }
    void setInitDir(const QString& folder) { m_initDir = folder; }
    void ShowOpen();

private:
    QString m_fileName;
    QString m_initDir;
};

} // namespace platform
