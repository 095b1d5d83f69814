// The parts the push engine runs on, in one struct: where its values come from, the clients
// and the wait it uploads with, and how it looks the machine's address up.
//
// None of them is a control: what the engine shows or asks goes to its observers
// (EngineObserver.h), which the window, the runs without a window and the tests attach.
#pragma once

#include "engine/EngineObserver.h"
#include "net/AddressText.h"

#include <functional>

namespace quelmark {

// Looks the machine's address up from the source the user chose and returns the outcome; a
// slow source lets the event loop run meanwhile.
using TAddressCheck = std::function<TAddressResult()>;

class TFtpClient;
class TWait;

struct TEngineParts {
    // The options and the sites; a push of all sites without any site logs its first line and
    // pushes nothing.
    TEngineData *data = nullptr;
    TFtpClient *ftpClient = nullptr;
    TWait *waitControl = nullptr;
    // The machine's address look-up: asked once by every push and every check of the refresh
    // cycle, whose change detection, upload copies and address fields all take that one answer.
    TAddressCheck localAddress{};
    // Abandons a look-up of localAddress that is waiting, which then returns its failure; may be
    // empty.
    std::function<void()> abandonAddressCheck{};
    // Tells whether the refresh cycle must hold its checks back for now: while the user edits
    // the sites or file entries that a push would reload and read.
    std::function<bool()> checksHeld{};
};

} // namespace quelmark
