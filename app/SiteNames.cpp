#include "app/SiteNames.h"

#include "base/Printable.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteRecord.h"

#include <QFileInfo>

#include <cstdio>

namespace quelmark {

int PrintSiteNames()
{
    const QString storePath = StoreFilePath();
    if (!QFileInfo::exists(storePath)) {
        PrintError(QStringLiteral("The settings store %1 does not exist; the window makes it when it is first opened")
                       .arg(PrintableText(storePath)));
        return 2;
    }
    // Read-only: a look from a shell must not so much as bring the store's layout up to date
    // behind the back of the program that holds it.
    SetStoreReadOnly(true);
    try {
        for (const QString &name : StoredSiteNames())
            PrintLine(stdout, PrintableText(name));
    } catch (const Exception &error) {
        PrintError(error.Message());
        return 2;
    }
    return 0;
}

} // namespace quelmark
