#include "app/log/LogDecoding.h"

#include <iconv.h>

#include <QStringDecoder>
#include <vector>

namespace telvo::app {
namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The length of the sequence a lead byte starts (0 for a byte that starts none).
int sequenceLength(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) return 2;
    if ((b & 0xF0) == 0xE0) return 3;
    if ((b & 0xF8) == 0xF0) return 4;
    return 0;
}

}  // namespace

QString decodeMacRoman(QByteArrayView bytes) {
    if (bytes.isEmpty()) return {};
    // One converter for the process: the viewer runs on the main thread only.
    static iconv_t converter = ::iconv_open("UTF-8", "MACINTOSH");
    QString text;
    if (converter == iconv_t(-1)) {
        // Without the table the ASCII half still reads right; the rest is marked.
        text.reserve(bytes.size());
        for (char c : bytes) text.append(static_cast<unsigned char>(c) < 0x80 ? QChar(c) : QChar(0xFFFD));
        return text;
    }
    ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
    // A Mac OS Roman character takes at most three UTF-8 bytes.
    std::vector<char> out(size_t(bytes.size()) * 3 + 4);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (::iconv(converter, &in, &inLeft, &outPtr, &outLeft) != size_t(-1)) break;
        // Every byte maps; should the table still refuse one, it is marked and skipped.
        if (outLeft < 3) break;
        *outPtr++ = char(0xEF), *outPtr++ = char(0xBF), *outPtr++ = char(0xBD);
        outLeft -= 3;
        ++in, --inLeft;
    }
    return QString::fromUtf8(out.data(), outPtr - out.data());
}

QString decodeLogBytes(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError()) return text;
    return decodeMacRoman(bytes);
}

qsizetype leadingContinuationBytes(QByteArrayView bytes) {
    qsizetype n = 0;
    while (n < 3 && n < bytes.size() && isContinuation(bytes[n])) ++n;
    return n;
}

qsizetype utf8CutBefore(QByteArrayView bytes, qsizetype limit) {
    if (limit >= bytes.size()) return bytes.size();
    if (limit <= 0) return 0;
    // The byte at `limit` begins the next piece. When it continues a character, the cut moves
    // back to that character's lead byte, if the lead is at most three bytes back and the
    // sequence it starts reaches across the cut.
    qsizetype lead = limit;
    while (limit - lead < 3 && lead > 0 && isContinuation(bytes[lead])) --lead;
    if (lead < limit && lead > 0 && sequenceLength(bytes[lead]) > limit - lead) return lead;
    return limit;
}

}  // namespace telvo::app
