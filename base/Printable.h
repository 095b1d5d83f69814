// Texts from outside the program (servers, files, the store, commands, the command line) made
// fit to show: every character stays visible, none acts on a screen, a log or a terminal, and
// none breaks a line. Control characters (U+0000 to U+001F, U+007F to U+009F) and bytes that are
// not UTF-8 are written as \xNN (two lower-case hex digits), the line and paragraph separators
// U+2028 and U+2029 as \u{2028} and \u{2029}.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdio>

namespace quelmark {

// Returns the bytes as one line of text: each well-formed UTF-8 character as itself, each byte
// of a control character and each byte outside a well-formed sequence as \xNN, a separator as
// \u{NNNN}.
QString PrintableBytes(QByteArrayView bytes);

// Returns the text as one line: its control characters as \xNN, its separators and any lone
// surrogate as \u{NNNN}.
QString PrintableText(const QString &text);

// Returns the text as PrintableText does, except that the tabs and line breaks the program's
// own output is laid out with stay: a CR LF or a lone CR becomes a line feed. For the places all
// output passes through (the log, the terminal, notifications); a text from outside that goes
// into such output is made PrintableText first, so its line breaks never reach here.
QString PrintableLines(const QString &text);

// Writes PrintableLines(text) and a line feed to stream (standard output or standard error) in
// the system's encoding, at once: the one way the programs print to a terminal.
void PrintLine(FILE *stream, const QString &text);

// Writes the program's name, ": " and the text to standard error as PrintLine does, so that in a
// script's log or a unit's journal a line says which program said it; standard output is
// flushed first, so lines of both streams that share a terminal stand in the order printed.
void PrintError(const QString &text);

} // namespace quelmark
