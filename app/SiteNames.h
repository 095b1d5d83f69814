// --list-sites: the names of the stored sites for scripts and shell completion.
#pragma once

namespace quelmark {

// Prints the name of every stored site on standard output, one a line, in the store's order
// (a control character in a name shown as \xNN, so that a name is always one line), reading the
// store without changing a byte of it and without a window. Returns 0, or 2 after
// saying why on standard error when the store is missing or cannot be read.
int PrintSiteNames();

} // namespace quelmark
