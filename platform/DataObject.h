#pragma once

#include <QStringList>

namespace platform {

// What was dropped, entry by entry: a file by its full path, anything else
// (a web address) as an empty entry.
class DataObject
{
public:
    DataObject() = default;
    explicit DataObject(QStringList files) : m_files(std::move(files)) {}

    // The dropped file at `index`, counted from 1.  Data without that many
    // entries, or whose entry there is not a file, raises a run-time error.
    [[nodiscard]] QString Files(int index) const;

private:
    QStringList m_files;
};

} // namespace platform
