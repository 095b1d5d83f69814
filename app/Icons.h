// The pictures of the main window's buttons and of the window itself.
#pragma once

#include <QIcon>

namespace quelmark {

// Returns the theme's icon of that name, or the program's own drawing (icons/<file>.png)
// when the theme has none, so no button is ever blank.
QIcon AppIcon(const char *theme, const char *file);

// Returns the program's own window icon.
QIcon WindowIcon();

} // namespace quelmark
