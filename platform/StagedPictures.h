#pragma once

#include "platform/Picture.h"
#include "platform/RuntimeError.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <semaphore>
#include <thread>
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
// nothing of ours behind.  The caller packs each picture into pieces of
// about 512 KiB that one thread writes, so packing, drawing the next
// picture and writing go on side by side.
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
    struct Piece
    {
        std::unique_ptr<unsigned char[]> data;
        std::size_t capacity = 0, size = 0;
        Staged* file = nullptr; // none: the writer ends
        bool last = false;
    };
    static constexpr int Slots = 4; // pieces going round between the caller and the writer
    void writePieces() noexcept;
    Piece& freePiece();
    void waitForWriter() noexcept;
    [[noreturn]] void fail(const SaveError& failure);
    [[nodiscard]] const Staged* firstFailed() const;
    void rollBack() noexcept;
    void discard() noexcept;

    std::vector<std::unique_ptr<Staged>> m_staged;
    Piece m_pieces[Slots];
    std::counting_semaphore<Slots> m_free{Slots}, m_filled{0};
    unsigned m_handedOver = 0;
    std::thread m_writer; // started by the first piece
    QStringList m_swept;  // folders already cleared of crashed cuts' leftovers
};

} // namespace platform
