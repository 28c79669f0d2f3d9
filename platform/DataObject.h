#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// What was dropped: the list of dropped files' full paths, if it held files.
class DataObject
{
public:
    DataObject() = default;
    explicit DataObject(QStringList files) : m_files(std::move(files)) {}

    // The dropped file at `index`, counted from 1.  Data without that many
    // files raises a run-time error.
    [[nodiscard]] QString Files(int index) const;

private:
    QStringList m_files;
};

} // namespace platform
