#include "tests/support/StoredSite.h"

#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteRecord.h"

#include <QFileInfo>

namespace quelmark::test {

void StoreSite(const QString &name, const QList<std::pair<QString, QString>> &values, const QStringList &localFiles)
{
    TRegIniFile ini(BaseKeyPath());
    const QString section = store::SiteSection(name);
    for (const auto &[value, text] : values)
        ini.WriteText(section, value, text);
    for (int i = 0; i < localFiles.size(); ++i) {
        const QString item = section + '\\' + store::ItemSection(i);
        ini.WriteText(item, store::Caption, localFiles[i]);
        const QStringList columns = {
            QFileInfo(localFiles[i]).fileName(), FileType::Ascii, "%IP%", FileStatus::New, "", "", ""};
        for (int k = 0; k < columns.size(); ++k)
            ini.WriteText(item, store::SublineName(k), columns[k]);
    }
}

} // namespace quelmark::test
