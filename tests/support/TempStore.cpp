#include "tests/support/TempStore.h"

#include "catalogue/Registry.h"

#include <QFile>

namespace quelmark::test {

TempStore::TempStore()
{
    m_hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    // An empty path means "the default location", which now lies inside the temporary folder.
    SetStoreFilePath(QString());
}

TempStore::~TempStore()
{
    CloseStore();
    if (m_hadConfigHome)
        qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
    SetStoreFilePath(QString());
}

QString TempStore::FilePath() const
{
    return StoreFilePath();
}

} // namespace quelmark::test
