// A fingerprint as a user or the store gives it: either 32 bytes, which written as hex pairs and
// read again are the same 32 bytes, or nothing. The input is the text.
#include "net/TlsSession.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>

using namespace quelmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const std::optional<QByteArray> digest = ParseFingerprint(QString::fromUtf8(input.Rest()));
    if (!digest)
        return 0;
    FUZZ_REQUIRE(digest->size() == 32);
    const QString text = FingerprintText(*digest);
    FUZZ_REQUIRE(text.size() == 95 && text == text.toUpper());
    FUZZ_REQUIRE(ParseFingerprint(text) == digest);
    return 0;
}
