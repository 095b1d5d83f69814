// Change detection: whether a file entry needs a push, judged on its status and its texts.
//
// A local file is described by three texts: its last-write date and time, its size and its
// attribute letters. They are captured when an entry is pushed and compared, as exact texts,
// with the file's current ones at every check. An entry with an IP parameter is also due when
// the machine's address differs from the one last published.
#pragma once

#include "catalogue/P_Types.h"

#include <QString>

#include <functional>

class QDateTime;

namespace quelmark {

// The state of a file entry; Other stands for a text none of the statuses has (written by hand
// or by a later version), which the engine treats as it treats "Moved" and never writes.
enum class TFileStatus { New, Moved, Edited, Error, Hold, Other };

// The transfer type of a file entry: exactly "Binary" uploads the file as it is, any other
// text as text with the IP parameter replaced.
enum class TFileType { Ascii, Binary };

// Returns the status a text names: the texts of FileStatus, Other for any other text.
TFileStatus FileStatusOf(const QString &text);
// Returns the text of a status; empty for Other.
const QString &FileStatusText(TFileStatus status);
// Returns the type a text names.
TFileType FileTypeOf(const QString &text);

// One file entry as the engine works on it.
struct TPushEntry {
    QString localFile{};
    QString hostFileName{};
    TFileType fileType = TFileType::Ascii;
    QString ipParameter{};
    TFileStatus status = TFileStatus::Other;
    QString fileDateTime{};
    QString fileSize{};
    QString attribs{};
};

// Returns the entry a stored file entry's texts describe.
TPushEntry PushEntryOf(const TFileEntry &entry);

// The texts that describe a local file: its last-write date and time, its size and its
// attribute letters.
struct TFileDetails {
    QString dateTime{};
    QString size{};
    QString attribs{};

    bool operator==(const TFileDetails &) const = default;
};

// Returns the machine's current local address as dotted text.
using TAddressLookup = std::function<QString()>;

// Returns the date text of a file last written at the moment lastWrite: that moment in local
// time to the whole second, written with the user's short date format, a blank and the user's
// long time format; the time is left off at exactly midnight. Every part of the text, the zone's
// abbreviation and offset included, belongs to the moment itself and never to today, so the
// same moment gives the same text on any day, in summer as in winter.
QString FileDateTimeText(const QDateTime &lastWrite);

// Returns FileDateTimeText of the moment secsSinceEpoch seconds after the epoch, the same text
// made from pieces of the system locale's formats, taken at the first call, and of the zone
// abbreviations met so far.
QString FileDateTimeTextAt(qint64 secsSinceEpoch);

// Captures the date/time, size and attribute texts of the file at path. Leaves all three
// outputs unchanged and returns false when the path cannot be examined.
bool GetFileDetails(const QString &path, QString &dateTime, QString &size, QString &attribs);

// Returns the details of the file at path now; three empty texts when it cannot be examined.
TFileDetails CurrentFileDetails(const QString &path);

// Returns the entry as a push that ended with status leaves it: the status and, for "Moved",
// the local file's current details, which become empty texts when the file has vanished.
TPushEntry WithStatus(TPushEntry entry, TFileStatus status);
// The same with the details of the file as it was sent, for "Moved".
TPushEntry WithStatus(TPushEntry entry, TFileStatus status, const TFileDetails &sent);

// Tells whether any of the file's current texts differs from the stored one; a missing file
// compares as three empty texts.
bool FileDetailsChanged(const QString &path, const QString &storedDateTime, const QString &storedSize,
                        const QString &storedAttribs);

// Whether an entry is due and why, in the words the dry run prints.
struct TPushDecision {
    bool due = false;
    // Due: "address changed (<old> -> <new>)", "new", "edited", "error last time",
    // "changed: attributes", "changed: size", "changed: date" or "file missing". Not due:
    // "file missing", "hold" or "unchanged".
    QString reason;
};

// Decides whether the entry must be pushed. The first rule that fires decides: an IP parameter
// with a current address (from localAddress) other than lastIPAddress; status "New", "Edited" or
// "Error"; a change of the local file's details, compared as attributes, size, date in that
// order (a missing file compares as three empty texts).
TPushDecision PushDecision(const TPushEntry &entry, const QString &lastIPAddress, const TAddressLookup &localAddress);

// Tells whether the entry must be pushed: PushDecision's answer without its reason.
bool FileNeedsPush(const TPushEntry &entry, const QString &lastIPAddress, const TAddressLookup &localAddress);

} // namespace quelmark
