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
    const int row = (n - 1) / 3;
    const int column = (n - 1) % 3;
    const double tw = third(innerWidth);
    const double th = third(innerHeight);
    const double x[] = {0.0, tw, twoThirds(innerWidth)};
    const double y[] = {0.0, th, twoThirds(innerHeight)};
    return Rect{x[column], y[row], tw, th};
}

QString tileFileName(int n)
{
    return QStringLiteral("%1.jpg").arg(n);
}

} // namespace tiles
