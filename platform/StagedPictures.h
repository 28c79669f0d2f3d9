#pragma once

#include "platform/Picture.h"
#include "platform/RuntimeError.h"

#include <QString>

#include <memory>
#include <vector>

namespace platform {

// A picture that could not be written; path() names the file.
class SaveError : public RuntimeError
{
public:
    using RuntimeError::RuntimeError;
};

// Files written next to their final place under a temporary name and put in
// place by a rename only when every one of them was written completely, so
// that a failure (a full disk, a vanished folder, a file that may not be
// replaced) leaves the files that were there untouched and nothing behind.
class StagedPictures
{
public:
    StagedPictures();
    ~StagedPictures(); // removes whatever was staged and not committed
    StagedPictures(const StagedPictures&) = delete;
    StagedPictures& operator=(const StagedPictures&) = delete;

    // Writes `picture` as a 24-bit Windows bitmap to a temporary file beside
    // `path`.  Throws SaveError when `path` cannot be replaced or the bitmap
    // cannot be written whole.
    void SavePicture(const Picture& picture, const QString& path);
    // Renames every staged file onto its path, in the order staged.
    void Commit();

private:
    struct Staged;
    std::vector<std::unique_ptr<Staged>> m_staged;
};

} // namespace platform
