#pragma once

#include <QString>

namespace platform {

// A system error (an errno value; on Windows, an error code) described in Simplified Chinese,
// whatever the locale, so that every reason the user reads is in the window's language.  Errors
// without a text of our own give their number.
[[nodiscard]] QString systemErrorText(int error);

} // namespace platform
