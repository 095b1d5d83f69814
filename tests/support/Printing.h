// Lets GoogleTest print texts readably in failure messages, and reads the message of a raised
// exception.
#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '{';
    for (qsizetype i = 0; i < texts.size(); ++i)
        *out << (i ? ", \"" : "\"") << texts[i].toStdString() << '"';
    *out << '}';
}

namespace quelmark::test {

// Returns the message of the exception of type E that fn raises; when fn raises nothing, the
// test fails and the result names that.
template <typename E, typename Fn> QString MessageOf(Fn &&fn)
{
    try {
        fn();
    } catch (const E &e) {
        return e.Message();
    }
    ADD_FAILURE() << "nothing raised";
    return QStringLiteral("<nothing raised>");
}

} // namespace quelmark::test
