#include "engine/ChangeDetection.h"

#include "engine/FileDateText.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <sys/stat.h>

namespace quelmark {

TFileStatus FileStatusOf(const QString &text)
{
    for (const TFileStatus status :
         {TFileStatus::New, TFileStatus::Moved, TFileStatus::Edited, TFileStatus::Error, TFileStatus::Hold}) {
        if (text == FileStatusText(status))
            return status;
    }
    return TFileStatus::Other;
}

const QString &FileStatusText(TFileStatus status)
{
    static const QString none;
    switch (status) {
    case TFileStatus::New:
        return FileStatus::New;
    case TFileStatus::Moved:
        return FileStatus::Moved;
    case TFileStatus::Edited:
        return FileStatus::Edited;
    case TFileStatus::Error:
        return FileStatus::Error;
    case TFileStatus::Hold:
        return FileStatus::Hold;
    case TFileStatus::Other:
        break;
    }
    return none;
}

TFileType FileTypeOf(const QString &text)
{
    return text == FileType::Binary ? TFileType::Binary : TFileType::Ascii;
}

TPushEntry PushEntryOf(const TFileEntry &entry)
{
    return {entry.localFile,
            entry.hostFileName,
            FileTypeOf(entry.fileType),
            entry.ipParameter,
            FileStatusOf(entry.status),
            entry.fileDateTime,
            entry.fileSize,
            entry.attribs};
}

QString FileDateTimeText(const QDateTime &lastWrite)
{
    const QLocale locale = QLocale::system();
    const QDateTime local = lastWrite.toLocalTime();
    QString text = locale.toString(local.date(), QLocale::ShortFormat);
    // Formatted from the date-time, not from its bare time: a bare time takes the zone
    // abbreviation of today, so every file's text would change at each summer-time switch.
    if (local.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(local, locale.timeFormat(QLocale::LongFormat));
    return text;
}

QString FileDateTimeTextAt(qint64 secsSinceEpoch)
{
    // Qt reads the system locale once, when it is first asked for it, so its formats and names
    // can be taken once too.
    static TFileDateFormatter formatter(QLocale::system(), QLocale::system().timeFormat(QLocale::LongFormat));
    QString text;
    if (formatter.Text(secsSinceEpoch, text))
        return text;
    return FileDateTimeText(QDateTime::fromSecsSinceEpoch(secsSinceEpoch));
}

bool GetFileDetails(const QString &path, QString &dateTime, QString &size, QString &attribs)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;

    // The write bit of the owner stands for "read-only" rather than access(): as root,
    // access() calls every file writable, and the text must not depend on who asks.
    attribs.clear();
    if ((st.st_mode & S_IWUSR) == 0)
        attribs += QLatin1Char('R');
    if (path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).startsWith(QLatin1Char('.')))
        attribs += QLatin1Char('H');
    size = QString::number(static_cast<qint64>(st.st_size));
    dateTime = FileDateTimeTextAt(st.st_mtim.tv_sec);
    return true;
}

TFileDetails CurrentFileDetails(const QString &path)
{
    TFileDetails details;
    GetFileDetails(path, details.dateTime, details.size, details.attribs);
    return details;
}

TPushEntry WithStatus(TPushEntry entry, TFileStatus status)
{
    const TFileDetails details = status == TFileStatus::Moved ? CurrentFileDetails(entry.localFile) : TFileDetails{};
    return WithStatus(std::move(entry), status, details);
}

TPushEntry WithStatus(TPushEntry entry, TFileStatus status, const TFileDetails &sent)
{
    entry.status = status;
    if (status != TFileStatus::Moved)
        return entry;
    entry.fileDateTime = sent.dateTime;
    entry.fileSize = sent.size;
    entry.attribs = sent.attribs;
    return entry;
}

bool FileDetailsChanged(const QString &path, const QString &storedDateTime, const QString &storedSize,
                        const QString &storedAttribs)
{
    QString dateTime, size, attribs;
    GetFileDetails(path, dateTime, size, attribs);
    return attribs != storedAttribs || size != storedSize || dateTime != storedDateTime;
}

TPushDecision PushDecision(const TPushEntry &entry, const QString &lastIPAddress, const TAddressLookup &localAddress)
{
    // The address rule comes first, so an entry on "Hold" still carries a new address out.
    if (!entry.ipParameter.isEmpty() && localAddress) {
        const QString current = localAddress();
        if (current != lastIPAddress)
            return {true, QStringLiteral("address changed (%1 -> %2)").arg(lastIPAddress, current)};
    }
    if (entry.status == TFileStatus::New)
        return {true, QStringLiteral("new")};
    // An edited entry may name another host file while its local file stays as it was: only
    // its status says that it has to go out again.
    if (entry.status == TFileStatus::Edited)
        return {true, QStringLiteral("edited")};
    if (entry.status == TFileStatus::Error)
        return {true, QStringLiteral("error last time")};

    QString dateTime, size, attribs;
    const bool found = GetFileDetails(entry.localFile, dateTime, size, attribs);
    const bool changed = attribs != entry.attribs || size != entry.fileSize || dateTime != entry.fileDateTime;
    if (!found)
        return {changed, QStringLiteral("file missing")};
    if (attribs != entry.attribs)
        return {true, QStringLiteral("changed: attributes")};
    if (size != entry.fileSize)
        return {true, QStringLiteral("changed: size")};
    if (dateTime != entry.fileDateTime)
        return {true, QStringLiteral("changed: date")};
    if (entry.status == TFileStatus::Hold)
        return {false, QStringLiteral("hold")};
    return {false, QStringLiteral("unchanged")};
}

bool FileNeedsPush(const TPushEntry &entry, const QString &lastIPAddress, const TAddressLookup &localAddress)
{
    return PushDecision(entry, lastIPAddress, localAddress).due;
}

} // namespace quelmark
