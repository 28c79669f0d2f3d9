#include "app/TileGeometry.h"

#include "platform/RuntimeError.h"

#include <cmath>

namespace tiles {

using platform::RuntimeError;

float third(float v)
{
    const float quotient = v / 3.0f;
    if (std::isnan(quotient))
        throw RuntimeError(RuntimeError::InvalidProcedureCall,
                           QStringLiteral("Invalid procedure call or argument"));
    if (std::isinf(quotient))
        throw RuntimeError(RuntimeError::Overflow, QStringLiteral("Overflow"));
    return quotient;
}

float twoThirds(float v)
{
    return third(v) * 2.0f;
}

Rect tileSource(int n, float innerWidth, float innerHeight)
{
    if (n < 1 || n > TileCount)
        throw RuntimeError(RuntimeError::InvalidProcedureCall,
                           QStringLiteral("There is no tile %1").arg(n));
    const int row = (n - 1) / 3;
    const int column = (n - 1) % 3;
    const float tw = third(innerWidth);
    const float th = third(innerHeight);
    const float x[] = {0.0f, tw, twoThirds(innerWidth)};
    const float y[] = {0.0f, th, twoThirds(innerHeight)};
    return Rect{x[column], y[row], tw, th};
}

QString tileFileName(int n)
{
    return QStringLiteral("%1.jpg").arg(n);
}

} // namespace tiles
