// Texts from the network or from the user made fit to show: every byte stays visible, and none
// acts on the screen, the log or a terminal. Control characters and bytes that are not UTF-8
// are written as \xNN (two lower-case hex digits per byte).
#pragma once

#include <QByteArrayView>
#include <QString>

namespace quelmark {

// Returns the bytes as text: each well-formed UTF-8 character as itself, each control
// character's bytes and each byte outside a well-formed sequence as \xNN.
QString PrintableBytes(QByteArrayView bytes);

// Returns the text with its control characters (U+0000 to U+001F, U+007F to U+009F) written
// as \xNN.
QString PrintableText(const QString &text);

} // namespace quelmark
