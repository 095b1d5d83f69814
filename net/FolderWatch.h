// TFolderWatch: tells which of a list of files were written, replaced or had their details
// changed, as the kernel announces it (inotify).
//
// The folders are watched, not the files: an editor that saves by writing a new file and
// renaming it over the old one leaves a watch on the old file watching nothing. For a file
// reached through a symbolic link, the folder of the file it names is watched as well. A burst
// of changes settles into one OnChanged, kQuietMs after the last write and at most kLongestMs
// after the first, with the files that changed. Nothing polls: between bursts no timer is
// armed. A folder that does not exist yet cannot be watched; the next SetFiles tries again. When
// the kernel had to drop events, every file counts as changed.
#pragma once

#include "net/UniqueFd.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class QSocketNotifier;

namespace quelmark {

class TSettleTimer;

class TFolderWatch : public QObject {
    Q_OBJECT
public:
    using TFilesChanged = std::function<void(QObject *sender, const QStringList &files)>;

    static constexpr int kQuietMs = 1000;
    static constexpr int kLongestMs = 10000;

    explicit TFolderWatch(QObject *owner = nullptr);
    ~TFolderWatch() override;

    // Watches the folders of these files from now on, in place of those before. OnChanged names
    // the files as given here. Returns false with Error() set when the system refuses inotify or
    // the watch of a folder that exists; the other folders are watched all the same.
    bool SetFiles(const QStringList &files);
    // Ends every watch and forgets the files and a burst that has not settled yet.
    void Clear();
    // The folders watched, each once, in no particular order.
    QStringList WatchedFolders() const;
    // Why the last SetFiles fell short; empty after one that watched every folder there is.
    QString Error() const { return m_error; }

    // Called once a burst of changes has settled, with the files changed, each once and sorted;
    // the handler may set other files or destroy the watch.
    TFilesChanged OnChanged;

private:
    struct TFolder {
        QString path;
        // Names in the folder, each with the files (as the caller names them) it stands for.
        QHash<QString, QStringList> names;
    };

    bool OpenInotify();
    void Watch(const QString &folder, const QString &name, const QString &file, QHash<int, TFolder> &into);
    void ReadEvents();
    void Note(int watch, std::uint32_t mask, const QString &name);
    void Settled();

    UniqueFd m_inotify;
    std::vector<char> m_buffer;
    QSocketNotifier *m_notifier = nullptr;
    TSettleTimer *m_settle = nullptr;
    QStringList m_files;
    // By watch descriptor: a folder reached by two paths is one watch.
    QHash<int, TFolder> m_folders;
    QSet<QString> m_changed;
    QString m_error;
};

} // namespace quelmark
