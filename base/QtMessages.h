// Keeps Qt's own messages off the terminal.
//
// Qt writes warnings of its own to standard error ("QStandardPaths: XDG_RUNTIME_DIR not set,
// defaulting to ..."), which say nothing a user of the program can act on and bury its own
// output. Both programs install this handler before anything of Qt runs; what the user needs to
// know they write to standard error themselves, in their own words.
#pragma once

namespace quelmark {

// Installs the handler: debug, information, warning and critical messages of Qt are dropped,
// a fatal one (the program is about to abort) is written to standard error after the program's
// name. While QT_LOGGING_RULES is set (a developer asking Qt for its messages), every message
// goes to Qt's own handler as before.
void InstallQuietMessageHandler();

} // namespace quelmark
