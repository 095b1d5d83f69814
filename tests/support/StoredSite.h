// Sites written into the store the way the window keeps them, before the program reads it.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace quelmark::test {

// Writes a site into the store: its values by store name, and one entry per local file, named
// on the server after the file, of type "Ascii" with the IP parameter "%IP%", status "New".
void StoreSite(const QString &name, const QList<std::pair<QString, QString>> &values, const QStringList &localFiles);

} // namespace quelmark::test
