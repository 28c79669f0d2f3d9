#pragma once

#include "platform/Picture.h"
#include "platform/RuntimeError.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace platform {

// A picture that could not be written; path() names the file.
class SaveError : public RuntimeError
{
public:
    using RuntimeError::RuntimeError;
};

// A set of files written next to their final places under hidden names and
// put in place together: either every one of them replaces its file, or a
// failure (a full disk, a vanished folder, a file that may not be replaced,
// a rename refused half-way) leaves the files that were there untouched and
// nothing of ours behind.  Each picture is written on a thread of its own,
// so the caller may draw the next picture while the last one is written.
class StagedPictures
{
public:
    StagedPictures();
    ~StagedPictures(); // removes whatever was staged and not committed
    StagedPictures(const StagedPictures&) = delete;
    StagedPictures& operator=(const StagedPictures&) = delete;

    // Starts writing `picture` as a 24-bit Windows bitmap to a hidden file
    // beside `path` and returns; the caller may change its own copy of the
    // picture at once.  Throws SaveError when `path` cannot be replaced, or
    // when an earlier picture could not be written whole.  After a throw
    // nothing is staged any more.
    void SavePicture(const Picture& picture, const QString& path);
    // Waits for the writing to end and puts every staged file in its place,
    // or, on any failure, none of them.
    void Commit();

private:
    struct Staged;
    void throwEarliestFailure(bool all);
    [[noreturn]] void fail(const SaveError& failure);
    void rollBack() noexcept;
    void discard() noexcept;

    std::vector<Staged> m_staged;
    QStringList m_swept; // folders already cleared of crashed cuts' leftovers
};

} // namespace platform
