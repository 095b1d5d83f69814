#include "engine/ActivityLog.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "engine/EngineObserver.h"
#include "ftp/Ftpcli.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>
#include <QSaveFile>

#include <sys/stat.h>

namespace quelmark {

namespace {

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

TActivityLog::TActivityLog(TEngineObserver &events, std::function<TOptions()> options)
    : Now([] { return QDateTime::currentDateTime(); }), m_events(events), m_options(std::move(options))
{
}

void TActivityLog::AddToLog(const QString &message)
{
    QString line;
    if (m_options && m_options().timeStampLog)
        line = LogTimeStamp(Now());
    // A message holding line breaks (a socket error's second line) becomes several lines,
    // whichever break it uses; any other control character is shown, never obeyed.
    line += PrintableLines(message);
    qCInfo(lcActivityLog).noquote() << line;
    if (!HasRoom(line)) {
        ClearForResources();
        return;
    }
    Hand(line);
}

void TActivityLog::ftpClientDisplay(QObject *, QString &msg)
{
    // A retry's pause can hold a push for up to a minute, and a replaced file may have lost its
    // mode: the log says so, detailed or not.
    if ((m_options && m_options().detailedLogging) || msg.startsWith(kRetryLinePrefix) ||
        msg.startsWith(kModeNotKeptText))
        AddToLog(msg);
}

void TActivityLog::SetCapacity(std::int64_t maxLines, std::int64_t maxChars)
{
    m_maxLines = maxLines;
    m_maxChars = maxChars;
}

bool TActivityLog::HasRoom(const QString &line) const
{
    const std::int64_t newLines = 1 + line.count(QLatin1Char('\n'));
    return m_lineCount + newLines <= m_maxLines && m_charCount + line.size() + 1 <= m_maxChars;
}

void TActivityLog::ClearForResources()
{
    m_lineCount = 0;
    m_charCount = 0;
    m_events.LogCleared();
    Hand(kLogClearedLine);
}

void TActivityLog::Hand(const QString &line)
{
    m_lineCount += 1 + line.count(QLatin1Char('\n'));
    m_charCount += line.size() + 1;
    m_events.LogLine(line);
}

} // namespace quelmark
