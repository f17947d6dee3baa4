// Fuzz target for the command editor's payload parser. The input is split at
// its first zero byte into two texts (read as UTF-8). Properties: a payload
// that parses fits into a packet; its bytes written again as hexadecimal
// elements, and as one quoted string when they hold no quote, parse to the
// same bytes; and two texts that parse on their own parse, joined by a blank,
// to their two payloads one after the other.
#include "FuzzSupport.h"
#include "Framing.h"
#include "PayloadParser.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void CheckReencoding(const TByteArray& bytes)
{
    QString hex;
    QString quoted = QStringLiteral("\"");
    bool quotable = true;
    for (const uint8_t b : bytes) {
        hex += QStringLiteral(" $%1").arg(b, 2, 16, QLatin1Char('0'));
        quotable = quotable && b != '"';
        quoted += QChar(b);
    }
    quoted += QLatin1Char('"');
    TByteArray again;
    Check(ParsePayload(hex, again) == static_cast<int>(bytes.size()) && again == bytes);
    if (quotable)
        Check(ParsePayload(quoted, again) == static_cast<int>(bytes.size()) && again == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* chars = reinterpret_cast<const char*>(data);
    const void* zero = std::memchr(data, 0, size);
    const size_t split = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    const QString first = QString::fromUtf8(chars, static_cast<qsizetype>(split));
    const QString second = zero ? QString::fromUtf8(chars + split + 1, static_cast<qsizetype>(size - split - 1)) : QString();

    TByteArray a;
    const int count = ParsePayload(first, a);
    Check(count == static_cast<int>(a.size()) || (count == -1 && a.empty()));
    if (count < 0)
        return 0;
    Check(a.size() <= static_cast<size_t>(MaxPayload));
    CheckReencoding(a);

    TByteArray b;
    if (ParsePayload(second, b) < 0 || a.size() + b.size() > static_cast<size_t>(MaxPayload))
        return 0;
    TByteArray joined;
    Check(ParsePayload(first + QLatin1Char(' ') + second, joined) >= 0);
    TByteArray expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    Check(joined == expected);
    return 0;
}
