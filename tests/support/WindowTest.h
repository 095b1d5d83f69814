// The test modes of the message boxes and the tray, for tests of the real main window.
#pragma once

#include "app/Tray.h"
#include "catalogue/MessageBox.h"
#include "tests/support/StoredSite.h"

#include <optional>

namespace quelmark::test {

// Records message boxes and tray notifications instead of showing them, for as long as it
// lives; with tray set, the window finds a tray (or none) whatever the platform offers. Only for
// tests that link the window.
class WindowTestModes {
public:
    explicit WindowTestModes(std::optional<bool> tray = std::nullopt)
    {
        TMessageBox::SetTestMode(true);
        TTray::SetTestMode(true);
        TTray::SetAvailableForTests(tray);
    }
    ~WindowTestModes()
    {
        TTray::SetAvailableForTests(std::nullopt);
        TTray::SetTestMode(false);
        TMessageBox::SetTestMode(false);
    }
    WindowTestModes(const WindowTestModes &) = delete;
    WindowTestModes &operator=(const WindowTestModes &) = delete;
};

} // namespace quelmark::test
