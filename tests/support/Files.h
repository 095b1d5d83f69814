// Files the tests write and read back (pages, stores, server files in their own folders), and
// the programs they run to make them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quelmark::test {

// Writes the bytes as the whole file at path, making its folder when missing; true when every
// byte was written.
bool WriteFile(const QString &path, const QByteArray &bytes = {});

// Writes the file as WriteFile does and returns its path; the test fails when it cannot.
QString Written(const QString &path, const QByteArray &bytes = {});

// Returns the bytes of the file at path, or `missing` when it cannot be read.
QByteArray ReadFile(const QString &path, const QByteArray &missing = {});

// Returns the mode bits (07777) of the file at path, or -1 when there is none.
int FileMode(const QString &path);

// Returns size bytes that repeat only over long stretches, different for each seed: a misplaced
// or lost block shows in a comparison.
QByteArray Pattern(qint64 size, int seed = 0);

// Runs a program to its end within 15 s; true when it exited with 0. Its output goes to output
// when given.
bool RunProgram(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
                const QByteArray &input = {});

} // namespace quelmark::test
