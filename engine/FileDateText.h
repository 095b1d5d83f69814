// Date texts of file times made from pieces: a locale's date texts, time-field texts and zone
// abbreviations, each asked of the locale once and then reused. Change detection makes one date
// text per file at every check; asking the locale for each piece each time costs several times
// the file-system call beneath it.
#pragma once

#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>

#include <ctime>
#include <vector>

namespace quelmark {

class TFileDateFormatter {
public:
    // Takes the pieces of timeFormat (a time format of locale, in the locale's own format
    // language) and starts with no date texts and no zone abbreviations.
    TFileDateFormatter(const QLocale &locale, const QString &timeFormat);

    // True when every part of the time format can be made from pieces. A format with date
    // fields (d, M, y) cannot.
    bool Usable() const { return m_usable; }

    // Writes into text the text of the moment secsSinceEpoch seconds after the epoch, in local
    // time: locale.toString(date, QLocale::ShortFormat), then, unless the time is exactly
    // midnight, a blank and locale.toString(dateTime, timeFormat), byte for byte. Returns false,
    // and leaves text alone, when the format is not usable or the moment lies outside
    // 1970-01-01 to 2038-01-19 UTC, where the toolkit converts without the C library.
    bool Text(qint64 secsSinceEpoch, QString &text);

private:
    // Which field of the moment picks a piece's text from its table.
    enum class TField { None, Hour, Minute, Second, Zone };

    struct TPiece {
        TField field = TField::None;
        // Indexed by the field's value; one text for a piece without a field.
        QList<QString> texts;
    };

    struct TZone {
        long offset = 0;
        int daylight = 0;
        QByteArray name;
        QString abbreviation;
    };

    void AddLiteral(const QString &text);
    void AddField(TField field, QList<QString> texts);
    void ReadFormat(const QString &format);
    const QString &DateText(const std::tm &local);
    const QString &ZoneAbbreviation(qint64 secsSinceEpoch, const std::tm &local);
    void RereadZoneOncePerSecond();

    QLocale m_locale;
    bool m_usable = true;
    std::vector<TPiece> m_pieces;
    QHash<int, QString> m_dates;
    std::vector<TZone> m_zones;
    std::size_t m_lastZone = 0;
    std::time_t m_zoneReadAt = -1;
};

} // namespace quelmark
