#pragma once

#include "platform/Picture.h"
#include "platform/RuntimeError.h"

namespace platform {

// A picture that could not be written; path() names the file.
class SaveError : public RuntimeError
{
public:
    using RuntimeError::RuntimeError;
};

// A set of files of one folder written next to their final places under hidden names and
// put in place together: either every one of them replaces its file, or a
// failure (a full disk, a vanished folder, a file that may not be replaced,
// a rename refused half-way, memory running out) leaves the files that were
// there untouched and nothing of ours behind.  Once in place, they are on
// the disk: a power cut after Commit loses none of them.  A crash half-way
// through Commit is finished by RepairTiles.  It blocks on the file system:
// call it off the window's thread.
class StagedPictures
{
public:
    StagedPictures();
    ~StagedPictures(); // removes whatever was staged and not committed
    StagedPictures(const StagedPictures&) = delete;
    StagedPictures& operator=(const StagedPictures&) = delete;

    // Writes `picture` as a 24-bit Windows bitmap to a hidden file beside
    // `path`; the caller may change its own copy of the picture once this
    // returns.  Throws SaveError when it cannot, after which nothing is
    // staged any more.
    void SavePicture(const Picture& picture, const QString& path);
    // Puts every staged file in its place, or, on any failure, none of them.
    void Commit();

private:
    struct Staged;
    void place();
    void rollBack() noexcept;
    void discard() noexcept;

    QString m_set;    // names this set's files: "<process id>-<number>"
    QString m_folder; // where they go, cleared of crashed cuts' leftovers
    QString m_marker;
    bool m_marked = false;
    std::vector<Staged> m_staged;
    // Old files a crashed cut kept whose names were taken: (name, kept file).
    std::vector<std::pair<QString, QString>> m_kept;
};

// Finishes the sets that a process now gone was putting in place in `folder`
// and undoes those it had not begun to, so that the folder holds one whole
// set of tiles again.
void RepairTiles(const QString& folder);

} // namespace platform
