// A fresh, private settings store for one test.
//
// Creates a temporary folder, points XDG_CONFIG_HOME and XDG_CACHE_HOME into it and makes the
// program use the default store file below it, so code that opens the store or writes the upload
// copy by its default location touches only this folder: tests that run side by side never
// share either. The destructor closes the store, restores both variables and removes the folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace quelmark::test {

class TempStore {
public:
    TempStore();
    ~TempStore();
    TempStore(const TempStore &) = delete;
    TempStore &operator=(const TempStore &) = delete;

    // Returns the temporary folder that stands in for the user's configuration folder.
    QString ConfigDir() const { return m_dir.path(); }
    // Returns the folder that stands in for the user's cache folder.
    QString CacheDir() const { return m_dir.filePath(QStringLiteral("cache")); }
    // Returns the store file the program opens (it need not exist yet).
    QString FilePath() const;
    // Returns false when the temporary folder could not be made.
    bool IsValid() const { return m_dir.isValid(); }

private:
    // An environment variable set for the store's life; what it held before comes back after.
    class Variable {
    public:
        Variable(const char *name, const QString &value);
        ~Variable();
        Variable(const Variable &) = delete;
        Variable &operator=(const Variable &) = delete;

    private:
        const char *m_name;
        QByteArray m_saved;
        bool m_had;
    };

    QTemporaryDir m_dir;
    Variable m_configHome{"XDG_CONFIG_HOME", ConfigDir()};
    Variable m_cacheHome{"XDG_CACHE_HOME", CacheDir()};
};

} // namespace quelmark::test
