#include "catalogue/Keyring.h"

#include "base/Dispatch.h"
#include "base/Exception.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <qt6keychain/keychain.h>

#include <utility>

namespace quelmark {

namespace {

// The Secret Service's name on the session bus.
const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
// A keyring that has not answered by then is not going to. An unlock prompt on the desktop
// holds the answer back until the user has answered it.
constexpr int kAnswerMs = 60000;

std::function<void(const QString &)> &Notes()
{
    static std::function<void(const QString &)> notes;
    return notes;
}

// True when the session has a bus to ask: one named in the environment, or the one systemd
// keeps in the runtime folder. Without either, asking would start a bus of its own for the X
// display, if there is one.
bool SessionBusNamed()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// Runs the job and waits for it, dispatching events meanwhile.
TKeyringAnswer Finish(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, [&finished] { finished = true; });
    QElapsedTimer clock;
    clock.start();
    job.start();
    // The poll wakes the loop when nothing else does, so the time-out is seen.
    RunEventsUntil(
        job, 250, [&] { return finished || clock.elapsed() >= kAnswerMs; }, [] {});
    TKeyringAnswer answer;
    if (!finished) {
        answer.error = QStringLiteral("the keyring did not answer within %1 seconds").arg(kAnswerMs / 1000);
        return answer;
    }
    answer.ok = job.error() == QKeychain::NoError;
    answer.missing = job.error() == QKeychain::EntryNotFound;
    if (!answer.ok)
        answer.error = job.errorString().isEmpty() ? QStringLiteral("the keyring refused") : job.errorString();
    return answer;
}

} // namespace

bool KeyringAnswers()
{
    if (!SessionBusNamed())
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(kSecretService).value())
        return true;
    const QDBusReply<QStringList> startable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return startable.isValid() && startable.value().contains(kSecretService);
}

bool KeyringLocked()
{
    if (!SessionBusNamed())
        return false;
    QDBusInterface properties(kSecretService, QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                              QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::sessionBus());
    const QDBusReply<QDBusVariant> locked = properties.call(
        QStringLiteral("Get"), QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked"));
    return locked.isValid() && locked.value().variant().toBool();
}

TKeyringAnswer ReadKeyring(const QString &service, const QString &key)
{
    QKeychain::ReadPasswordJob job(service);
    job.setKey(key);
    TKeyringAnswer answer = Finish(job);
    if (answer.ok)
        answer.text = job.textData();
    return answer;
}

TKeyringAnswer WriteKeyring(const QString &service, const QString &key, const QString &secret)
{
    QKeychain::WritePasswordJob job(service);
    job.setKey(key);
    job.setTextData(secret);
    return Finish(job);
}

TKeyringAnswer DeleteKeyring(const QString &service, const QString &key)
{
    QKeychain::DeletePasswordJob job(service);
    job.setKey(key);
    TKeyringAnswer answer = Finish(job);
    // Gone is what was asked for.
    if (answer.missing)
        answer.ok = true;
    return answer;
}

void SetKeyringNotes(std::function<void(const QString &)> notes)
{
    Notes() = std::move(notes);
}

void KeyringNote(const QString &line)
{
    if (Notes())
        Notes()(line);
}

void KeyringNoteOnce(const QString &line)
{
    static QSet<QString> said;
    if (!Notes() || said.contains(line))
        return;
    said.insert(line);
    Notes()(line);
}

} // namespace quelmark
