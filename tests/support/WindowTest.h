// Tests of the program's real main window: the test modes of its modal seams and the tray, and a
// fixture with a store and a folder of its own.
#pragma once

#include "app/F_Main.h"
#include "app/Tray.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/MessageBox.h"
#include "tests/support/StoredSite.h"
#include "tests/support/TempStore.h"
#include "tests/support/TestModes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quelmark::test {

// Records message boxes, file dialogs and tray notifications instead of showing them, for as long
// as it lives; with tray set, the window finds a tray (or none) whatever the platform offers.
// Only for tests that link the window.
class WindowTestModes {
public:
    explicit WindowTestModes(std::optional<bool> tray = std::nullopt) { TTray::SetAvailableForTests(tray); }
    ~WindowTestModes() { TTray::SetAvailableForTests(std::nullopt); }
    WindowTestModes(const WindowTestModes &) = delete;
    WindowTestModes &operator=(const WindowTestModes &) = delete;

private:
    TestModes<TMessageBox, TFileDialogs, TTray> m_modes;
};

// A test of the main window over a store and a folder of its own, in the test modes above.
class WindowTest : public ::testing::Test {
protected:
    explicit WindowTest(std::optional<bool> tray = std::nullopt) : modes(tray) {}

    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid());
        ASSERT_TRUE(folder.isValid());
    }
    void TearDown() override { window.reset(); }

    // Makes the window and shows it, which loads the store.
    void Open()
    {
        window = std::make_unique<TfrmMain>();
        window->show();
    }

    // Returns the window's control of that name; the test fails when there is none.
    template <typename T> T *Find(const char *name)
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    TempStore store;
    WindowTestModes modes;
    QTemporaryDir folder;
    std::unique_ptr<TfrmMain> window;
};

} // namespace quelmark::test
