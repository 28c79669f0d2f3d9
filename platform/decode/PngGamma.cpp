#include "Decoders.h"

#include <QtEndian>

#include <array>
#include <cstdlib>

namespace platform::decode {
namespace {

// Fixed point in units of 1/100000, as PNG stores gamma and chromaticities.
constexpr qint64 kUnit = 100000;
// libpng corrects gamma only when file gamma times display gamma strays more than 5 % from one.
constexpr qint64 kGammaThreshold = 5000;
// sRGB's own 1/2.2 approximation as PNG stores it.
constexpr qint64 kSrgbGamma = 45455;
// libpng's tolerance when it compares chromaticities with sRGB's.
constexpr qint64 kChromaticityDelta = 100;
// White x, y, then red, green and blue x, y of sRGB (D65, BT.709 primaries).
constexpr std::array<qint64, 8> kSrgbChromaticities = {31270, 32900, 64000, 33000,
                                                       30000, 60000, 15000, 6000};

quint32 be32(QByteArrayView bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.data() + at);
}

bool gammaIsSrgbs(quint32 gamma)
{
    // gamma x 2.2 (the display's exponent, 1 / 45455 in the same units) close to one
    const qint64 product = qint64(gamma) * kUnit / kSrgbGamma;
    return std::llabs(product - kUnit) <= kGammaThreshold;
}

bool chromaticitiesAreSrgbs(QByteArrayView body)
{
    if (body.size() != 32) return false;
    for (qsizetype i = 0; i < 8; ++i)
        if (std::llabs(qint64(be32(body, i * 4)) - kSrgbChromaticities[size_t(i)]) >
            kChromaticityDelta)
            return false;
    return true;
}

} // namespace

bool pngMeansSrgb(QByteArrayView head)
{
    static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (head.size() < 8 || head.first(8) != QByteArrayView(kSignature, 8)) return false;
    bool gammaSrgb = false;
    bool chromaticitiesSrgb = true;
    for (qsizetype at = 8; at + 8 <= head.size();) {
        const qint64 length = be32(head, at);
        const QByteArrayView type = head.sliced(at + 4, 4);
        if (type == "IDAT") return gammaSrgb && chromaticitiesSrgb;
        if (type == "iCCP" || type == "sRGB") return false; // Qt reads those exactly
        if (length > head.size() - at - 12) return false;   // runs past what we looked at
        const QByteArrayView body = head.sliced(at + 8, qsizetype(length));
        if (type == "gAMA") gammaSrgb = length == 4 && gammaIsSrgbs(be32(body, 0));
        if (type == "cHRM") chromaticitiesSrgb = chromaticitiesAreSrgbs(body);
        at += 12 + qsizetype(length);
    }
    return false;
}

} // namespace platform::decode
