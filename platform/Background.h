#pragma once

#include <functional>

namespace platform {

// Runs `work` on a worker thread and returns when it has ended, rethrowing
// whatever it threw.  Meanwhile the busy cursor shows and the window keeps
// painting, while input (clicks, keys, drops, closing) waits until the work
// is done, so a handler that waits here reads as if it did the work itself
// and no other handler starts in the middle of it.  Asked for on the worker,
// `work` just runs.
void waitFor(const std::function<void()>& work);

// True while a handler waits in waitFor.
[[nodiscard]] bool waiting();

} // namespace platform
