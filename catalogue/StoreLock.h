// The advisory lock that keeps one program at a time working on a settings store.
//
// The lock is a file beside the store ("store.db.lock") held with flock(): the kernel lets it
// go when its holder ends however it ends, so a lock file left behind by a program that died
// is simply taken over. While it holds the lock, the holder writes into the file who it is: its
// process id, its role ("window", "service", "push-all") and the local socket on which it takes
// commands handed over by other runs of the program.
#pragma once

#include <QString>

namespace quelmark {

// Who holds a store, as the lock file tells it.
struct TStoreHolder {
    qint64 pid = 0;
    QString role;
    QString socketPath;

    // True when all three were read: a holder that has just taken the lock may not have
    // written them yet.
    bool Complete() const { return pid > 0 && !role.isEmpty() && !socketPath.isEmpty(); }
    // Returns the lock file's text for this holder: one line each for pid, role and socket.
    QString Text() const;
    // Reads a holder from the lock file's text; fields it cannot read stay empty.
    static TStoreHolder FromText(const QString &text);
};

namespace roles {
inline const QString Window = QStringLiteral("window");
inline const QString Service = QStringLiteral("service");
inline const QString PushAll = QStringLiteral("push-all");
} // namespace roles

class TStoreLock {
public:
    // A lock on the store at storePath, not yet taken.
    explicit TStoreLock(const QString &storePath);
    // Releases the lock when held.
    ~TStoreLock();
    Q_DISABLE_COPY(TStoreLock)

    // Takes the lock unless a live program holds it; returns whether this program holds it now.
    // Raises Exception, naming the file, when the lock file cannot be made or locked.
    bool TryAcquire();
    // Writes the holder into the lock file; only while the lock is held.
    void Publish(const TStoreHolder &holder);
    // Empties the lock file and lets the lock go; harmless when not held.
    void Release();
    bool Held() const { return m_held; }

    // Tells whether a live program holds the lock, without making or writing the lock file.
    bool HeldByAnyone() const;
    // Reads who holds the store from the lock file (the fields stay empty while nobody has
    // written them).
    TStoreHolder ReadHolder() const;
    const QString &FilePath() const { return m_path; }

private:
    void Open();

    QString m_path;
    int m_fd = -1;
    bool m_held = false;
};

// Returns the local socket on which the holder of the store at storePath takes handed-over
// commands: beside the store, in its private folder, when the path fits a socket address,
// otherwise a name made from the store's path in the user's runtime folder. A runtime folder
// that is not the user's own with mode 0700 is never used: XDG_RUNTIME_DIR when it is private,
// else <temp>/quelmark-runtime-<uid> (made so when missing), else a fresh private folder beside
// it; note (when given) then says where the socket went and why.
QString HandoverSocketPath(const QString &storePath, QString *note = nullptr);

} // namespace quelmark
