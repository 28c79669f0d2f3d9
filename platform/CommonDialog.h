#pragma once

#include <QString>

namespace platform {

// The open-file dialog component.  It has no look of its own; ShowOpen runs
// the modal dialog and leaves the chosen full path in FileName, or leaves
// FileName as it was when the person cancels.
class CommonDialog
{
public:
    [[nodiscard]] QString FileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }
    void ShowOpen();

private:
    QString m_fileName;
};

} // namespace platform
