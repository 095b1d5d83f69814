// The activity log: every step of the push engine as a line of text, optionally time-stamped,
// with the FTP client's own lines added while detailed logging is on.
//
// The log lives only in memory, in the text area memoLog. When the area reaches its capacity
// it is cleared and the fact is noted in it; the user can save it as a text file. Every line
// also goes to the logging category "quelmark.log" at the info level, which is off unless
// switched on (QT_LOGGING_RULES="quelmark.log.info=true"), so a program nobody watches can
// still be followed on its standard error.
#pragma once

#include "engine/TextArea.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>

class QAbstractButton;
class QWidget;

namespace quelmark {

// Returns the time-stamp decoration of a log line: "[" + date + " " + time + "] -- ".
QString LogTimeStamp(const QDateTime &localTime);

// Writes lines to a file, replacing it, each followed by CR LF; the file is replaced whole or
// not at all, and a new file gets mode 0600. Raises Exception "Cannot create file <path>" when it cannot be written.
void SaveLinesToFile(const QStringList &lines, const QString &path);

// The beginning of the FTP client's note before it tries an upload again.
inline const QString RetryLinePrefix = QStringLiteral("Trying again in ");

class TActivityLog {
public:
    // The default capacity: whichever comes first of 200,000 lines or 32 Mi characters (64 MiB
    // of text). Detailed logging writes some fifteen lines per pushed file, so this holds many
    // days of checks while keeping the area's memory and the cost of a save bounded.
    static constexpr std::int64_t DefaultMaxLines = 200000;
    static constexpr std::int64_t DefaultMaxChars = std::int64_t(32) * 1024 * 1024;

    // Ties the log to its area and to the two option check boxes (either may be null: the
    // option then reads as unchecked). dialogParent is the save dialog's parent.
    TActivityLog(TTextArea *memoLog, QAbstractButton *chkTimeStampLog, QAbstractButton *chkDetailedLogging,
                 QWidget *dialogParent = nullptr);

    // Appends one line to area, time-stamped while "Timestamp Log Entries" is checked, its
    // control characters shown as PrintableLines shows them. When
    // the area has no room left it is cleared and given the single line
    // "Cleared output area due to limited resources..." instead; the line is dropped.
    void AddToLog(TTextArea *area, const QString &message);
    // Appends one line to memoLog.
    void AddToLog(const QString &message) { AddToLog(m_memoLog, message); }

    // Handler of the FTP client's display lines: logged only while "Detailed Logging" is
    // checked, except the notes that announce a retry, which are always logged.
    void ftpClientDisplay(QObject *sender, QString &msg);

    // Asks for a file name and saves the log's lines there with CR LF after each; the log is
    // unchanged. Raises Exception "Cannot create file <path>" when the file cannot be written.
    void btnSaveCurrentFileClick();

    TTextArea *memoLog() const { return m_memoLog; }
    // Sets the capacity after which an append counts as out of resources.
    void SetCapacity(std::int64_t maxLines, std::int64_t maxChars);
    std::int64_t MaxLines() const { return m_maxLines; }
    std::int64_t MaxChars() const { return m_maxChars; }

    // Returns the current local time; replaceable so tests can fix the stamp.
    std::function<QDateTime()> Now;
    // Told every line appended to memoLog, as it stands there (stamp included), when it is
    // appended; a program without a window prints them.
    std::function<void(const QString &line)> OnLineAdded;

private:
    bool Checked(const QPointer<QAbstractButton> &box) const;
    bool HasRoom(const TTextArea *area, const QString &line) const;
    void ClearForResources(TTextArea *area);
    void Added(const TTextArea *area, const QString &line);

    QPointer<TTextArea> m_memoLog;
    QPointer<QAbstractButton> m_chkTimeStampLog;
    QPointer<QAbstractButton> m_chkDetailedLogging;
    QPointer<QWidget> m_dialogParent;
    std::int64_t m_maxLines = DefaultMaxLines;
    std::int64_t m_maxChars = DefaultMaxChars;
};

} // namespace quelmark
