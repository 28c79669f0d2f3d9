#include "platform/decode/Decoders.h"

#include <QtEndian>

// Formats recognised by their first bytes, for the readers Qt does not have.
namespace platform::decode {

bool looksLikeJpeg(QByteArrayView head)
{
    return head.size() >= 3 && head.startsWith("\xff\xd8\xff");
}

bool looksLikeHeif(QByteArrayView head)
{
    static constexpr const char* brands[] = {"heic", "heix", "mif1", "msf1",
                                             "heim", "heis", "hevc", "hevx"};
    if (head.size() < 16 || head.sliced(4, 4) != "ftyp") return false;
    // The box holds the major brand at 8 and the compatible brands from 16 to its end; the
    // minor version at 12 is not a brand.
    const qsizetype boxSize = qFromBigEndian<quint32>(head.data());
    const qsizetype end = qMin(head.size(), boxSize);
    for (qsizetype at = 8; at + 4 <= end; at += 4) {
        if (at == 12) continue;
        for (const char* brand : brands)
            if (head.sliced(at, 4) == brand) return true;
    }
    return false;
}

bool looksLikeWmf(QByteArrayView head)
{
    if (head.size() < 6) return false;
    if (qFromLittleEndian<quint32>(head.data()) == kPlaceableKey) return true;
    // A plain metafile header: type 1 (memory) or 2 (disk), a nine-word header, and
    // version 0x0100 or 0x0300.
    const auto word = [&](int at) { return qFromLittleEndian<quint16>(head.data() + at); };
    return (word(0) == 1 || word(0) == 2) && word(2) == 9 &&
           (word(4) == 0x0100 || word(4) == 0x0300);
}

bool looksLikeEmf(QByteArrayView head)
{
    return head.size() >= 88 && qFromLittleEndian<quint32>(head.data()) == 1u &&
           qFromLittleEndian<quint32>(head.data() + 40) == 0x464D4520u /* " EMF" */;
}

} // namespace platform::decode
