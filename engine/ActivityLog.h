// The activity log: every step of the push engine as a line of text, optionally time-stamped,
// with the FTP client's own lines added while detailed logging is on.
//
// The log keeps no lines itself: each line goes to the engine's observers (the window shows
// them in its log area and lets the user save them, a run without a window prints them). It
// counts what it has handed out since it was last cleared, as the area holding the lines would:
// when that reaches its capacity the log starts again, and the observers are told so and given
// the note that says it. Every line also goes to the logging category "quelmark.log" at the info
// level, which is off unless switched on (QT_LOGGING_RULES="quelmark.log.info=true"), so a
// program nobody watches can still be followed on its standard error.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace quelmark {

class TEngineObserver;
struct TOptions;

// Returns the time-stamp decoration of a log line: "[" + date + " " + time + "] -- ".
QString LogTimeStamp(const QDateTime &localTime);

// Writes lines to a file, replacing it, each followed by CR LF; the file is replaced whole or
// not at all, and a new file gets mode 0600. Raises Exception "Cannot create file <path>" when it cannot be written.
void SaveLinesToFile(const QStringList &lines, const QString &path);

// The note a log gets when it runs out of room and starts again.
inline const QString kLogClearedLine = QStringLiteral("Cleared output area due to limited resources...");

// The beginning of the FTP client's note before it tries an upload again.
inline const QString kRetryLinePrefix = QStringLiteral("Trying again in ");

// The beginning of the line that names the file going up, in the log, the status bar and the
// progress window.
inline const QString kTransferingPrefix = QStringLiteral("Transfering file: ");

class TActivityLog {
public:
    // The default capacity: whichever comes first of 200,000 lines or 32 Mi characters (64 MiB
    // of text). Detailed logging writes some fifteen lines per pushed file, so this holds many
    // days of checks while keeping the area's memory and the cost of a save bounded.
    static constexpr std::int64_t kDefaultMaxLines = 200000;
    static constexpr std::int64_t kDefaultMaxChars = std::int64_t(32) * 1024 * 1024;

    // Hands the lines to events; the options "Timestamp Log Entries" and "Detailed Logging" are
    // asked of options at each line (without it both count as unchecked).
    TActivityLog(TEngineObserver &events, std::function<TOptions()> options);

    // Logs one line, time-stamped while "Timestamp Log Entries" is checked, its control
    // characters shown as PrintableLines shows them. When the log has no room left for it, it is
    // cleared and gets the single line "Cleared output area due to limited resources..."
    // instead; the line is dropped.
    void AddToLog(const QString &message);

    // Handler of the FTP client's display lines: logged only while "Detailed Logging" is
    // checked, except the notes that announce a retry or a file's mode not kept, which are
    // always logged.
    void ftpClientDisplay(QObject *sender, QString &msg);

    // Sets the capacity after which a line counts as out of resources.
    void SetCapacity(std::int64_t maxLines, std::int64_t maxChars);
    std::int64_t MaxLines() const { return m_maxLines; }
    std::int64_t MaxChars() const { return m_maxChars; }

    // Returns the current local time; replaceable so tests can fix the stamp.
    std::function<QDateTime()> Now;

private:
    bool HasRoom(const QString &line) const;
    void ClearForResources();
    void Hand(const QString &line);

    TEngineObserver &m_events;
    std::function<TOptions()> m_options;
    std::int64_t m_maxLines = kDefaultMaxLines;
    std::int64_t m_maxChars = kDefaultMaxChars;
    // What the lines handed out since the last clearing hold: lines (a line with line breaks
    // counts one per part) and characters (one more per line end).
    std::int64_t m_lineCount = 0;
    std::int64_t m_charCount = 0;
};

} // namespace quelmark
