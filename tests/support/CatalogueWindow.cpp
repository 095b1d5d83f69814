#include "tests/support/CatalogueWindow.h"

#include "tests/support/StoreDump.h"

namespace quelmark::test {

CatalogueWindow::CatalogueWindow()
{
    options = std::make_unique<TGeneralOptions>(&window, QString());
    nbDetail = new QStackedWidget(&window);
    for (const QString &name : {pages::GeneralOptions, pages::WebSites, pages::LogFiles, pages::Blank}) {
        auto *page = new QWidget;
        nbDetail->addWidget(page);
        pageByTitle.insert(name, page);
    }
    catalogue = std::make_unique<TCatalogue>(&window, pageByTitle.value(pages::WebSites));
    title = new QLabel(&window);
    fileDrag = new TFileDrag(&window);
    navigator = new TNavigator({nbDetail, pageByTitle, title, catalogue.get(), fileDrag}, &window);
}

CatalogueWindow::~CatalogueWindow() = default;

TListRow *CatalogueWindow::AddRow(const QString &localFile, const QStringList &columns)
{
    TListRow *row = Shown().lvFileDetails->AddRow();
    row->SetCaption(localFile);
    row->SetSubItems(columns);
    return row;
}

void CatalogueWindow::StoreSite(const QString &name, const QString &localFile)
{
    Shown().lvFileDetails->ClearRows();
    AddRow(localFile, {"/www/f", FileType::Ascii, "%IP%", FileStatus::New, "", "", ""});
    Shown().edtFTPServer->setText(name);
    catalogue->SetCurrentSiteName(name);
    catalogue->SaveCurrentSite();
    catalogue->SetCurrentSiteName(QString());
    Shown().lvFileDetails->ClearRows();
}

TNavigatorNode *CatalogueWindow::SiteNode(const QString &name) const
{
    for (TNavigatorNode *node : navigator->SiteNodes()) {
        if (node->text(0) == name)
            return node;
    }
    return nullptr;
}

QStringList CatalogueWindow::SiteNames() const
{
    QStringList names;
    for (TNavigatorNode *node : navigator->SiteNodes())
        names.append(node->text(0));
    return names;
}

QStringList CatalogueWindow::Stored(const QString &part) const
{
    return DumpStore(store.FilePath()).filter(part);
}

} // namespace quelmark::test
