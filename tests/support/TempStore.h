// A fresh, private settings store for one test.
//
// Creates a temporary folder, points XDG_CONFIG_HOME at it and makes the program use the
// default store file below it, so code that opens the store by its default location touches
// only this folder. The destructor closes the store, restores XDG_CONFIG_HOME and removes the
// folder.
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
    // Returns the store file the program opens (it need not exist yet).
    QString FilePath() const;
    // Returns false when the temporary folder could not be made.
    bool IsValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedConfigHome;
    bool m_hadConfigHome = false;
};

} // namespace quelmark::test
