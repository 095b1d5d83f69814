#include "tests/support/TempStore.h"

#include "catalogue/Registry.h"

#include <QFile>

namespace quelmark::test {

TempStore::Variable::Variable(const char *name, const QString &value)
    : m_name(name), m_saved(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
{
    qputenv(name, QFile::encodeName(value));
}

TempStore::Variable::~Variable()
{
    if (m_had)
        qputenv(m_name, m_saved);
    else
        qunsetenv(m_name);
}

TempStore::TempStore()
{
    // An empty path means "the default location", which now lies inside the temporary folder.
    SetStoreFilePath(QString());
}

TempStore::~TempStore()
{
    SetStoreFilePath(QString());
}

QString TempStore::FilePath() const
{
    return StoreFilePath();
}

} // namespace quelmark::test
