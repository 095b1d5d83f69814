// Runs shell scripts and this test program inside network namespaces the test makes itself,
// so a test can see a machine with loopback only (or with addresses of its own choosing)
// without touching the real network.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace quelmark::test {

// Returns the unshare options that create the namespaces named by their letters ("n" for
// network, "un" for host name and network), as root or as an unprivileged user; nullopt when
// neither is permitted here.
std::optional<QStringList> UnshareFlags(const QString &namespaces = QStringLiteral("n"));

// Says why a namespace test is skipped when UnshareFlags found nothing.
QString NamespaceSkipReason(const QString &namespaces = QStringLiteral("n"));

struct UnsharedRun {
    int exitCode = -1;
    QString output; // standard output
    QString errors; // standard error
};

// Runs the script with /bin/sh under unshare with the given flags, after bringing lo up.
UnsharedRun RunUnshared(const QStringList &flags, const QString &script);

// Runs the current test of this program again under unshare with the given flags, after lo is
// up and the extra set-up commands ran, with the environment variable set to value; the child
// recognises itself by that variable. Output and errors are merged into output.
UnsharedRun RerunCurrentTestUnshared(const QStringList &flags, const QString &setUp, const char *variable,
                                     const QString &value);

// True in a run of a test that RerunInNamespace started.
bool InsideNamespace();

// Runs the current test again inside namespaces of its own (by their letters, network alone by
// default), after lo is up and setUp ran, and passes its verdict on: a failure with the child's
// output, a skip when the child skipped or the namespaces are not permitted here. A test calls it
// when InsideNamespace() is false and returns.
void RerunInNamespace(const QString &setUp = {}, const QString &namespaces = QStringLiteral("n"));

} // namespace quelmark::test
