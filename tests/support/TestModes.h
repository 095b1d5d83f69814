// The test mode of the program's modal seams, switched on for as long as a test needs it.
#pragma once

namespace quelmark::test {

// Switches the test mode of each seam (TMessageBox, TFileDialogs, TTray) on for as long as it
// lives and off again however the test ends: their dialogs and notifications are recorded
// instead of shown, and questions take their answers from the test.
template <typename... Seams> class TestModes {
public:
    TestModes() { (Seams::SetTestMode(true), ...); }
    ~TestModes() { (Seams::SetTestMode(false), ...); }
    TestModes(const TestModes &) = delete;
    TestModes &operator=(const TestModes &) = delete;
};

} // namespace quelmark::test
