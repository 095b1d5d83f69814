// The address source as the general options choose it, and what the program says about the
// addresses it finds there.
//
// The five address options ("Address from:", "Interface:", "Check URL:", "Address command:",
// "IP version:") are read afresh at every look-up, so a change on the General Options page
// counts from the next check on. Addresses that the world cannot reach are still used; the log
// says so once per run and address.
#pragma once

#include "engine/EngineParts.h"
#include "net/AddressSource.h"

#include <QString>

#include <functional>
#include <optional>

namespace quelmark {

// Returns the source "Address from:" names; nothing when it names none this program knows.
std::optional<TAddressSourceKind> ChosenAddressSource(const TOptions &options);

// Sets source up as the general options say. Returns the reason they cannot be used ("Address
// from:" or "IP version:" naming nothing known), or an empty text when source is set.
QString ChooseAddressSource(const TOptions &options, TAddressSource &source);

// Returns a look-up on source, set up afresh from the options options returns at each call.
TAddressCheck ChosenAddressLookup(TAddressSource *source, std::function<TOptions()> options);

// Gives parts their address look-up: source as the parts' data's options choose it, and the way
// to abandon a look-up that waits. The window and the runs without a window wire it so.
void UseChosenAddressSource(TEngineParts &parts, TAddressSource *source);

// Returns where the address comes from, for the address field's tooltip: "Address from: Web
// (https://…)", the interface, URL or command in brackets when one belongs to the source, and
// ", IPv6" after it for IPv6.
QString AddressSourceText(const TOptions &options);

// Tells whether the machine has an address of its own, by the program's "Local" rule: anything
// but "127.0.0.1". A check that fails while it has one is the source's failure, not the line's.
bool MachineHasOwnAddress();

// Returns why a failed check failed, fit to show: its failure without "Address check failed: ".
QString AddressFailureReason(const TAddressResult &found);

// Returns the line the log gets once for a check that failed while the machine kept its own
// address: "Address check failed (<reason>); pages with an address wait".
QString PagesWaitLine(const TAddressResult &found);

// Returns the note the log gets about address found by source, or an empty text: a warning when
// "Web" or "Command" gave a private, loopback, link-local or CGNAT address, which is used all
// the same; a hint towards "Web" when "Local" gave a private or CGNAT address.
QString AddressNote(TAddressSourceKind source, const QString &address);

} // namespace quelmark
