#pragma once

#include "platform/Units.h"

class QWidget;

namespace platform {

// Something controls live in: the form or a picture box.  It gives its
// children their parent widget and the units their positions are read and
// set in.
class Container
{
public:
    virtual ~Container() = default;

    [[nodiscard]] virtual QWidget* childParent() const = 0;
    // Units of the drawing area: twips, or the box's user scale.
    [[nodiscard]] virtual Scale scale() const = 0;
    // Where the drawing area starts inside childParent(), in pixels (a
    // framed box draws inside its frame).
    [[nodiscard]] virtual int originX() const = 0;
    [[nodiscard]] virtual int originY() const = 0;
};

} // namespace platform
