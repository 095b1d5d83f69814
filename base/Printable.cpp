#include "base/Printable.h"

#include <cerrno>

namespace quelmark {

namespace {

bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsSeparator(char32_t c)
{
    return c == 0x2028 || c == 0x2029;
}

void AppendByte(QString &out, unsigned char byte)
{
    static const char digits[] = "0123456789abcdef";
    out += QLatin1String("\\x");
    out += QLatin1Char(digits[byte >> 4]);
    out += QLatin1Char(digits[byte & 0x0F]);
}

void AppendCodePoint(QString &out, char32_t c)
{
    out += QStringLiteral("\\u{%1}").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
}

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Returns the length of the well-formed UTF-8 sequence that starts at i (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0 when there is none.
qsizetype SequenceLength(QByteArrayView bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[i + k]); };
    const unsigned char lead = at(0);
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() - i < length || at(1) < low || at(1) > high)
        return 0;
    for (qsizetype k = 2; k < length; ++k) {
        if (!IsContinuation(at(k)))
            return 0;
    }
    return length;
}

// Returns text with its controls, separators and lone surrogates escaped; the characters in
// kept pass as they are.
QString Escaped(const QString &text, QStringView kept)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pair) {
            out += c;
            out += text.at(++i);
        } else if (kept.contains(c)) {
            out += c;
        } else if (IsControl(c.unicode())) {
            AppendByte(out, static_cast<unsigned char>(c.unicode()));
        } else if (IsSeparator(c.unicode()) || c.isSurrogate()) {
            AppendCodePoint(out, c.unicode());
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString PrintableBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = SequenceLength(bytes, i);
        const QString character = length > 0 ? QString::fromUtf8(bytes.sliced(i, length)) : QString();
        // A control character is one or two bytes long; longer ones begin above U+07FF.
        if (length > 0 && IsSeparator(character.at(0).unicode())) {
            AppendCodePoint(out, character.at(0).unicode());
        } else if (length > 0 && !IsControl(character.at(0).unicode())) {
            out += character;
        } else {
            for (qsizetype k = 0; k < qMax<qsizetype>(length, 1); ++k)
                AppendByte(out, static_cast<unsigned char>(bytes[i + k]));
        }
        i += qMax<qsizetype>(length, 1);
    }
    return out;
}

QString PrintableText(const QString &text)
{
    return Escaped(text, {});
}

QString PrintableLines(const QString &text)
{
    QString lines = text;
    if (lines.contains(QLatin1Char('\r')))
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return Escaped(lines, u"\t\n");
}

void PrintLine(FILE *stream, const QString &text)
{
    std::fputs((PrintableLines(text) + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

void PrintError(const QString &text)
{
    std::fflush(stdout);
    PrintLine(stderr, QString::fromLocal8Bit(program_invocation_short_name) + QStringLiteral(": ") + text);
}

} // namespace quelmark
