#include "engine/FileDateText.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <limits>

namespace quelmark {

namespace {

// Bounds of the caches: a site's files mostly share a few days and one or two zone offsets,
// and a cache that fills up starts afresh rather than growing without end.
constexpr qsizetype kMaxDates = 4096;
constexpr std::size_t kMaxZones = 64;

// The format language below is the toolkit's (QLocale::toString with a format): a quote opens
// literal text, two quotes stand for one, a run of one letter is one field, and any other
// character is itself.

int RunLength(const QString &format, qsizetype at)
{
    qsizetype end = at;
    while (end < format.size() && format[end] == format[at])
        ++end;
    return static_cast<int>(end - at);
}

// Reads the quoted text that starts at at and moves at past it.
QString ReadQuoted(const QString &format, qsizetype &at)
{
    ++at;
    if (at == format.size())
        return QString();
    if (format[at] == QLatin1Char('\'')) {
        ++at;
        return QStringLiteral("'");
    }
    QString text;
    while (at < format.size()) {
        if (format[at] != QLatin1Char('\'')) {
            text += format[at++];
        } else if (at + 1 < format.size() && format[at + 1] == QLatin1Char('\'')) {
            text += QLatin1Char('\'');
            at += 2;
        } else {
            break;
        }
    }
    if (at < format.size())
        ++at;
    return text;
}

// Whether the format shows AM/PM, which turns its "h" hours into 12-hour ones.
bool ShowsMeridiem(const QString &format)
{
    for (qsizetype at = 0; at < format.size();) {
        if (format[at] == QLatin1Char('\'')) {
            ReadQuoted(format, at);
            continue;
        }
        if (format[at].toLower() == QLatin1Char('a'))
            return true;
        ++at;
    }
    return false;
}

int TwelveHour(int hour)
{
    if (hour > 12)
        return hour - 12;
    return hour == 0 ? 12 : hour;
}

int DateKey(const std::tm &local)
{
    return ((local.tm_year + 1900) * 16 + local.tm_mon) * 32 + local.tm_mday;
}

} // namespace

TFileDateFormatter::TFileDateFormatter(const QLocale &locale, const QString &timeFormat) : m_locale(locale)
{
    ReadFormat(timeFormat);
}

void TFileDateFormatter::AddLiteral(const QString &text)
{
    if (!m_pieces.empty() && m_pieces.back().field == TField::None)
        m_pieces.back().texts[0] += text;
    else
        m_pieces.push_back({TField::None, {text}});
}

void TFileDateFormatter::AddField(TField field, QList<QString> texts)
{
    m_pieces.push_back({field, std::move(texts)});
}

void TFileDateFormatter::ReadFormat(const QString &format)
{
    // Each field's texts come from the locale itself, one per value, formatted with the field
    // alone: the same digits, padding and AM/PM words as in the whole format.
    const bool twelveHour = ShowsMeridiem(format);
    const auto texts = [this](int count, const auto &timeOf, const QString &token) {
        QList<QString> list;
        for (int value = 0; value < count; ++value)
            list.append(m_locale.toString(timeOf(value), token));
        return list;
    };
    qsizetype at = 0;
    while (at < format.size()) {
        const QChar c = format[at];
        if (c == QLatin1Char('\'')) {
            AddLiteral(ReadQuoted(format, at));
            continue;
        }
        int run = RunLength(format, at);
        switch (c.unicode()) {
        case 'd':
        case 'M':
        case 'y':
            m_usable = false;
            return;
        case 'h':
        case 'H': {
            run = std::min(run, 2);
            const bool twelve = c == QLatin1Char('h') && twelveHour;
            const auto hour = [twelve](int h) { return QTime(twelve ? TwelveHour(h) : h, 0); };
            AddField(TField::Hour, texts(24, hour, QString(run, QLatin1Char('H'))));
            break;
        }
        case 'm':
            run = std::min(run, 2);
            AddField(TField::Minute, texts(
                                         60, [](int m) { return QTime(0, m); }, QString(run, c)));
            break;
        case 's':
            run = std::min(run, 2);
            AddField(TField::Second, texts(
                                         60, [](int s) { return QTime(0, 0, s); }, QString(run, c)));
            break;
        case 'a':
        case 'A':
            // "AP", "ap", "Ap" and "aP" are one field each; the locale's text for the field says
            // which letter case it takes.
            run = at + 1 < format.size() && format[at + 1].toLower() == QLatin1Char('p') ? 2 : 1;
            AddField(TField::Hour, texts(
                                       24, [](int h) { return QTime(h, 0); }, format.mid(at, run)));
            break;
        case 'z':
            // File times are whole seconds: the milliseconds are always zero.
            run = run >= 3 ? 3 : 1;
            AddLiteral(m_locale.toString(QTime(0, 0), QString(run, c)));
            break;
        case 't':
            run = 1;
            AddField(TField::Zone, {});
            break;
        default:
            AddLiteral(QString(run, c));
            break;
        }
        at += run;
    }
}

bool TFileDateFormatter::Text(qint64 secsSinceEpoch, QString &text)
{
    if (!m_usable || secsSinceEpoch < 0 || secsSinceEpoch > std::numeric_limits<qint32>::max())
        return false;
    RereadZoneOncePerSecond();
    const std::time_t time = static_cast<std::time_t>(secsSinceEpoch);
    std::tm local{};
    // A leap second (a zone from "right/") has no time of day in the toolkit.
    if (!localtime_r(&time, &local) || local.tm_sec > 59)
        return false;
    const QString &date = DateText(local);
    if (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0) {
        text = date;
        return true;
    }
    QVarLengthArray<const QString *, 16> parts;
    qsizetype size = date.size() + 1;
    for (const TPiece &piece : m_pieces) {
        // A zone piece has no texts of its own: its text is looked up per moment.
        const QString *part = nullptr;
        switch (piece.field) {
        case TField::Hour:
            part = &piece.texts[local.tm_hour];
            break;
        case TField::Minute:
            part = &piece.texts[local.tm_min];
            break;
        case TField::Second:
            part = &piece.texts[local.tm_sec];
            break;
        case TField::Zone:
            part = &ZoneAbbreviation(secsSinceEpoch, local);
            break;
        case TField::None:
            part = &piece.texts.constFirst();
            break;
        }
        parts.append(part);
        size += part->size();
    }
    QString made(size, Qt::Uninitialized);
    QChar *out = std::copy(date.cbegin(), date.cend(), made.data());
    *out++ = QLatin1Char(' ');
    for (const QString *part : parts)
        out = std::copy(part->cbegin(), part->cend(), out);
    text = std::move(made);
    return true;
}

const QString &TFileDateFormatter::DateText(const std::tm &local)
{
    const int key = DateKey(local);
    auto found = m_dates.constFind(key);
    if (found != m_dates.constEnd())
        return *found;
    if (m_dates.size() >= kMaxDates)
        m_dates.clear();
    const QDate date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return *m_dates.insert(key, m_locale.toString(date, QLocale::ShortFormat));
}

const QString &TFileDateFormatter::ZoneAbbreviation(qint64 secsSinceEpoch, const std::tm &local)
{
    const char *name = local.tm_zone ? local.tm_zone : "";
    const auto matches = [&](const TZone &zone) {
        return zone.offset == local.tm_gmtoff && zone.daylight == local.tm_isdst && zone.name == name;
    };
    // Whole runs of files share one zone entry: the last one found is tried first.
    if (m_lastZone < m_zones.size() && matches(m_zones[m_lastZone]))
        return m_zones[m_lastZone].abbreviation;
    const auto found = std::find_if(m_zones.begin(), m_zones.end(), matches);
    if (found != m_zones.end()) {
        m_lastZone = static_cast<std::size_t>(found - m_zones.begin());
        return found->abbreviation;
    }
    if (m_zones.size() >= kMaxZones)
        m_zones.clear();
    // The toolkit's abbreviation of the moment itself, which the texts of every other moment
    // with the same offset, daylight flag and zone name share.
    m_zones.push_back({local.tm_gmtoff, local.tm_isdst, QByteArray(name),
                       QDateTime::fromSecsSinceEpoch(secsSinceEpoch).timeZoneAbbreviation()});
    m_lastZone = m_zones.size() - 1;
    return m_zones.back().abbreviation;
}

void TFileDateFormatter::RereadZoneOncePerSecond()
{
    // The toolkit reads the zone afresh before every conversion, so a change of the machine's
    // zone shows in the very next text. Reading it for each file would cost a file-system call
    // of its own (the zone file's stat); once a second keeps the change visible within a second.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    if (now.tv_sec == m_zoneReadAt)
        return;
    m_zoneReadAt = now.tv_sec;
    tzset();
}

} // namespace quelmark
