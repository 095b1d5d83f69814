#include "engine/ActivityLog.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "catalogue/FileDialogs.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>
#include <QSaveFile>

#include <new>
#include <sys/stat.h>

namespace quelmark {

namespace {

const QString ClearedLine = QStringLiteral("Cleared output area due to limited resources...");

// Off by default: a desktop program has no business writing each line to its terminal.
Q_LOGGING_CATEGORY(lcActivityLog, "quelmark.log", QtWarningMsg)

} // namespace

QString LogTimeStamp(const QDateTime &localTime)
{
    const QLocale locale = QLocale::system();
    return QLatin1Char('[') + locale.toString(localTime.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(localTime.time(), QLocale::LongFormat) + QStringLiteral("] -- ");
}

void SaveLinesToFile(const QStringList &lines, const QString &path)
{
    // The log names servers, users and folders: a new file is the user's alone. A file that
    // is replaced keeps the mode it had, as QSaveFile does.
    const bool created = !QFile::exists(path);
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok && created)
        ok = ::fchmod(file.handle(), 0600) == 0;
    for (int i = 0; ok && i < lines.size(); ++i)
        ok = file.write(lines[i].toLocal8Bit() + "\r\n") >= 0;
    if (!ok || !file.commit())
        throw Exception(QStringLiteral("Cannot create file %1").arg(PrintableText(path)));
}

TActivityLog::TActivityLog(TTextArea *memoLog, QAbstractButton *chkTimeStampLog, QAbstractButton *chkDetailedLogging,
                           QWidget *dialogParent)
    : Now([] { return QDateTime::currentDateTime(); }), m_memoLog(memoLog), m_chkTimeStampLog(chkTimeStampLog),
      m_chkDetailedLogging(chkDetailedLogging), m_dialogParent(dialogParent)
{
}

void TActivityLog::AddToLog(TTextArea *area, const QString &message)
{
    if (!area)
        return;
    QString line;
    if (Checked(m_chkTimeStampLog))
        line = LogTimeStamp(Now());
    // A message holding line breaks (a socket error's second line) becomes several lines,
    // whichever break it uses; any other control character is shown, never obeyed.
    line += PrintableLines(message);
    if (area == m_memoLog)
        qCInfo(lcActivityLog).noquote() << line;
    if (!HasRoom(area, line)) {
        ClearForResources(area);
        return;
    }
    try {
        area->AppendLine(line);
    } catch (const std::bad_alloc &) {
        ClearForResources(area);
        return;
    }
    Added(area, line);
}

void TActivityLog::ftpClientDisplay(QObject *, QString &msg)
{
    // A retry's pause can hold a push for up to a minute: the log says why, detailed or not.
    if (Checked(m_chkDetailedLogging) || msg.startsWith(RetryLinePrefix))
        AddToLog(msg);
}

void TActivityLog::btnSaveCurrentFileClick()
{
    const QString path = TFileDialogs::GetSaveFileName(
        m_dialogParent, QStringLiteral("Save log file..."),
        {QStringLiteral("Text Files (*.TXT)"), QStringLiteral("All Files (*.*)")}, QStringLiteral("TXT"));
    if (path.isEmpty() || !m_memoLog)
        return;
    SaveLinesToFile(m_memoLog->Lines(), path);
}

void TActivityLog::SetCapacity(std::int64_t maxLines, std::int64_t maxChars)
{
    m_maxLines = maxLines;
    m_maxChars = maxChars;
}

bool TActivityLog::Checked(const QPointer<QAbstractButton> &box) const
{
    return box && box->isChecked();
}

bool TActivityLog::HasRoom(const TTextArea *area, const QString &line) const
{
    const std::int64_t newLines = 1 + line.count(QLatin1Char('\n'));
    return area->LineCount() + newLines <= m_maxLines && area->CharCount() + line.size() + 1 <= m_maxChars;
}

void TActivityLog::ClearForResources(TTextArea *area)
{
    area->ClearLines();
    area->AppendLine(ClearedLine);
    Added(area, ClearedLine);
}

void TActivityLog::Added(const TTextArea *area, const QString &line)
{
    if (OnLineAdded && area == m_memoLog)
        OnLineAdded(line);
}

} // namespace quelmark
