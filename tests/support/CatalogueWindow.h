// A window laid out like the main one for the catalogue tests: the general options, the detail
// pages with the site fields and the file list on "Web Sites", the title bar, the drop target,
// the catalogue over a private store and the navigator (not yet built).
#pragma once

#include "catalogue/Catalogue.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "catalogue/filedrag.h"
#include "tests/support/TempStore.h"

#include <QLabel>
#include <QStackedWidget>
#include <QWidget>

#include <memory>

namespace quelmark::test {

class CatalogueWindow {
public:
    CatalogueWindow();
    virtual ~CatalogueWindow();

    // Adds a file row to the shown list with the given caption and column texts.
    TListRow *AddRow(const QString &localFile, const QStringList &columns);
    // Stores a site with one row, as an earlier run would have left it; the list is emptied again.
    void StoreSite(const QString &name, const QString &localFile);

    TNavigatorNode *SiteNode(const QString &name) const;
    QStringList SiteNames() const;
    // The site fields and the file list, made by the catalogue.
    TShownSite &Shown() { return catalogue->Shown(); }
    // Returns the title of the page the detail area shows.
    QString ShownPage() const { return pageByTitle.key(nbDetail->currentWidget()); }
    // Returns the lines of the store dump that contain part.
    QStringList Stored(const QString &part) const;

    TempStore store;
    QWidget window;
    std::unique_ptr<TGeneralOptions> options;
    QStackedWidget *nbDetail = nullptr;
    QMap<QString, QWidget *> pageByTitle;
    QLabel *title = nullptr;
    TFileDrag *fileDrag = nullptr;
    std::unique_ptr<TCatalogue> catalogue;
    TNavigator *navigator = nullptr;
};

} // namespace quelmark::test
