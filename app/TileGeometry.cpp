#include "app/TileGeometry.h"

#include "platform/RuntimeError.h"

#include <cmath>

namespace tiles {

using platform::RuntimeError;

double third(double v)
{
    const double quotient = v / 3.0;
    if (std::isnan(quotient))
        throw RuntimeError(RuntimeError::InvalidProcedureCall,
                           QStringLiteral("无效的过程调用或参数"));
    if (std::isinf(quotient)) throw RuntimeError(RuntimeError::Overflow, QStringLiteral("溢出"));
    return quotient;
}

double twoThirds(double v)
{
    return third(v) * 2.0;
}

Rect tileSource(int n, double innerWidth, double innerHeight)
{
    // The column's and the row's multiple of a third; the third doubled is twoThirds exactly.
    const double width = third(innerWidth), height = third(innerHeight);
    return Rect{(n - 1) % 3 * width, (n - 1) / 3 * height, width, height};
}

QString tileFileName(int n)
{
    return QStringLiteral("%1.jpg").arg(n);
}

} // namespace tiles
