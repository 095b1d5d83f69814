// The parts the push engine runs on, in one struct: what the transfer, the push commands and
// the refresh cycle read, write and show.
//
// The first group is what every engine needs; the second is what a window adds, and each of
// those may be null: the engine then shows nothing there (no window to disable, no progress
// window, no status bar, no start/stop button). Push-all walks the navigator's sites, so
// without a navigator it logs its first line and pushes nothing.
#pragma once

#include "engine/ChangeDetection.h"
#include "net/AddressText.h"

#include <functional>

class QAction;
class QLineEdit;
class QStatusBar;
class QToolBar;
class QWidget;

namespace quelmark {

// Looks the machine's address up from the source the user chose and returns the outcome; a
// slow source lets the event loop run meanwhile.
using TAddressCheck = std::function<TAddressResult()>;

class TCatalogue;
class TFtpClient;
class TGeneralOptions;
class TNavigator;
class TTextArea;
class TWait;
class TfrmProgress;

struct TEngineParts {
    // What every engine runs on.
    TCatalogue *catalogue = nullptr;
    TGeneralOptions *options = nullptr;
    TFtpClient *ftpClient = nullptr;
    TWait *waitControl = nullptr;
    TTextArea *memoLog = nullptr;
    // The machine's address look-up: asked once by every push and every check of the refresh
    // cycle, whose change detection, upload copies and address fields all take that one answer.
    TAddressCheck localAddress{};
    // Abandons a look-up of localAddress that is waiting, which then returns its failure; may be
    // empty.
    std::function<void()> abandonAddressCheck{};

    // What a window adds.
    QWidget *mainWindow = nullptr;
    TNavigator *navigator = nullptr;
    QLineEdit *edtLocalAddress = nullptr;
    QStatusBar *statusBar = nullptr;
    TTextArea *memoLocalFile = nullptr;
    TTextArea *memoHostFile = nullptr;
    TfrmProgress *frmProgress = nullptr;
    // The toolbar button "Toggle the timer on/off"; the animation goes last on toolbar, so
    // the buttons stay where they are when it appears.
    QAction *btnStartStop = nullptr;
    QToolBar *toolbar = nullptr;
    // Tells whether the refresh cycle must hold its checks back for now: while the user edits
    // the sites or file entries that a push would reload and read.
    std::function<bool()> checksHeld{};
};

} // namespace quelmark
