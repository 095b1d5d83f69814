// Numbers and Booleans as the settings store keeps them: the number reader, the store's round
// trip through a real store file, and the spin edit that shows a stored number. The input is
// a default flag (one byte), the spin edit's range (two four-byte numbers) and the stored text
// (UTF-8).
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QApplication>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <optional>

using namespace quelmark;

namespace {

const QString kSection = QStringLiteral("Fuzz");
const QString kName = QStringLiteral("Value");
constexpr qsizetype kMaxText = 1024;

QTemporaryDir *g_storeDir = nullptr;
TRegSpinEdit *g_spinEdit = nullptr;

// The number a stored text holds, read with the standard library: an optional sign, then
// decimal digits or hexadecimal ones after "$", "0x" or "0X"; decimal within 32 bits, and
// hexadecimal as a 32-bit pattern.
std::optional<std::int32_t> ExpectedNumber(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 127)
            return std::nullopt;
    }
    std::string rest = text.toStdString();
    bool negative = false;
    if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) {
        negative = rest[0] == '-';
        rest.erase(0, 1);
    }
    int base = 10;
    if (rest.starts_with('$')) {
        base = 16;
        rest.erase(0, 1);
    } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
        base = 16;
        rest.erase(0, 2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude, base);
    if (rest.empty() || error != std::errc() || end != rest.data() + rest.size())
        return std::nullopt;
    std::int64_t value = 0;
    if (base == 16) {
        if (magnitude > 0xFFFFFFFFu)
            return std::nullopt;
        value = std::int32_t(std::uint32_t(magnitude));
    } else {
        if (magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu))
            return std::nullopt;
        value = std::int64_t(magnitude);
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return std::int32_t(value);
}

void CheckParser(const QString &text, const std::optional<std::int32_t> expected)
{
    std::int32_t value = 0x5EED;
    const bool readable = ParseStoredNumber(text, value);
    FUZZ_REQUIRE(readable == expected.has_value());
    // An unreadable text leaves the caller's value alone.
    FUZZ_REQUIRE(value == (readable ? *expected : 0x5EED));
}

// A text written to the store comes back whole; read as a number or flag it gives the parsed
// value or the default; numbers and flags written come back as they were.
void CheckStore(const QString &text, const std::optional<std::int32_t> expected, bool defaultFlag)
{
    TRegIniFile ini(QStringLiteral("\\Software\\Varnholt\\Quelmark"));
    ini.WriteText(kSection, kName, text);
    FUZZ_REQUIRE(ini.ReadText(kSection, kName, QString()) == text);
    FUZZ_REQUIRE(ini.ReadNumber(kSection, kName, 0x5EED) == expected.value_or(0x5EED));
    FUZZ_REQUIRE(ini.ReadFlag(kSection, kName, defaultFlag) == (expected ? *expected != 0 : defaultFlag));
    if (expected) {
        ini.WriteNumber(kSection, kName, *expected);
        FUZZ_REQUIRE(ini.ReadNumber(kSection, kName, 0x5EED) == *expected);
    }
    ini.WriteFlag(kSection, kName, !defaultFlag);
    FUZZ_REQUIRE(ini.ReadFlag(kSection, kName, defaultFlag) == !defaultFlag);
}

// The spin edit shows the number its text holds kept inside its range, and its minimum when
// the text holds none.
void CheckSpinEdit(const QString &text, std::int32_t minimum, std::int32_t maximum)
{
    g_spinEdit->SetRange(minimum, maximum);
    g_spinEdit->SetText(text);
    const std::optional<std::int32_t> expected = ExpectedNumber(text.trimmed());
    const std::int32_t value = g_spinEdit->Value();
    FUZZ_REQUIRE(value >= minimum && value <= std::max(minimum, maximum));
    FUZZ_REQUIRE(value == (expected ? std::clamp(*expected, minimum, std::max(minimum, maximum)) : minimum));
}

void RemoveStore()
{
    CloseStore();
    delete g_storeDir;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The spin edit is a widget: it needs the widget application, which the other targets do
    // without.
    static int argc = 1;
    static char name[] = "quelmark-fuzz";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    g_storeDir = new QTemporaryDir;
    FUZZ_REQUIRE(g_storeDir->isValid());
    SetStoreFilePath(g_storeDir->filePath(QStringLiteral("store.db")));
    std::atexit(RemoveStore);
    g_spinEdit = new TRegSpinEdit;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const bool defaultFlag = input.Byte() & 1;
    const std::int32_t minimum = std::int32_t(input.Number(4));
    const std::int32_t maximum = std::int32_t(input.Number(4));
    const QString text = QString::fromUtf8(input.Rest()).left(kMaxText);

    const std::optional<std::int32_t> expected = ExpectedNumber(text);
    CheckParser(text, expected);
    CheckStore(text, expected, defaultFlag);
    CheckSpinEdit(text, minimum, maximum);
    return 0;
}
