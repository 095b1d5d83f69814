// Looks at a store file from the outside, through a connection of its own, the way another
// program would: whole-content snapshots, and changes no program of ours would make.
#pragma once

#include "tests/support/Printing.h"

#include <QString>
#include <QStringList>

namespace quelmark::test {

// Returns every key and value of the store as "path|name|kind|text" lines in a fixed order
// (keys without values as "path"), so two snapshots compare equal exactly when the stored
// content is the same.
QStringList DumpStore(const QString &file);

// Returns the rows of `keys` and `vals` as they lie in the file, ids and value row numbers
// included, data as its type and hexadecimal bytes: two files give equal lists exactly when
// the same keys and values were made in the same order.
QStringList RawStoreRows(const QString &file);

// Returns the value names of one key in the order they were first written.
QStringList ValueNamesInWriteOrder(const QString &file, const QString &keyPath);

// Returns the names of the subkeys of a key in enumeration order.
QStringList SubkeyNames(const QString &file, const QString &keyPath);

// Changes the kind of a stored value (4 makes it a 32-bit number), as another tool might.
void SetValueKind(const QString &file, const QString &keyPath, const QString &name, int kind);

// Makes every later write of a value with this name fail inside the store.
void PoisonValueName(const QString &file, const QString &name);

// Runs one SQL statement on the file; fails the test on error.
void ExecSql(const QString &file, const QString &sql);

} // namespace quelmark::test
