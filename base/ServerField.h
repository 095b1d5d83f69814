// The server field of a site, as the user writes it: a host name or address with an optional
// port. Kept on the ground floor because the site dialog checks it and the uploads read it.
#pragma once

#include <QString>

#include <cstdint>

namespace quelmark {

struct TServerField {
    QString host;           // without brackets
    std::uint16_t port = 0; // 0 when the text names none
    QString error;          // empty when the text is usable

    bool Valid() const { return error.isEmpty(); }
};

// Reads "host", "host:port", an IPv6 address ("2001:db8::5", a zone after '%' allowed) or
// "[2001:db8::5]:2121"; blanks around the text do not count. Refuses an empty text, a port
// outside 1 to 65535, an unbalanced bracket, text after the port, brackets around anything but
// an IPv6 address, and more than one colon outside brackets in what is not an IPv6 address,
// each with a message that says what is wrong.
TServerField ParseServerField(const QString &text);

} // namespace quelmark
