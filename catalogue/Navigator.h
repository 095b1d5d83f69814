// The navigator: the tree on the left of the main window that chooses what the detail area
// shows, and the moment at which the shown site is written back and the chosen one read.
//
// Three fixed nodes ("General Options", "Web Sites", "View Log") and one node per stored site
// below "Web Sites". Every change of the selection, whether the user's, the program's or the
// result of removing the selected node, saves the shown site, switches drops off and then shows
// the page of the new node; a site node also loads its site and switches drops on.
#pragma once

#include "catalogue/P_Types.h"

#include <QMap>
#include <QPersistentModelIndex>
#include <QTreeWidget>

#include <functional>

class QLabel;
class QStackedWidget;

namespace quelmark {

class TCatalogue;
class TFileDrag;

// What a navigator node stands for; the number is also its image's number.
enum TNodeKind : int { nkGeneralOptions = 0, nkWebSites = 1, nkSite = 2, nkViewLog = 3 };

struct TTreeNodeObject {
    int NodeKind = nkGeneralOptions;
};

// One node of the navigator with the object it carries.
class TNavigatorNode : public QTreeWidgetItem {
public:
    static constexpr int Type = QTreeWidgetItem::UserType + 2;
    TNavigatorNode(const TTreeNodeObject &object, const QString &text);
    TTreeNodeObject Object;

    // A site node's picture and tooltip are its navigator's SiteImage and SiteToolTip for it,
    // when those give one.
    QVariant data(int column, int role) const override;
};

// Returns the image of a node kind; none for a kind that is not one.
QIcon NodeImage(int kind);

// Returns the kind of a navigator node; -1 for no node or a foreign one.
int NodeKindOf(const QTreeWidgetItem *node);

// The parts of the main window that a selection change acts on.
struct TNavigatorParts {
    QStackedWidget *nbDetail = nullptr;
    // The pages of nbDetail by title: "General Options", "Web Sites", "Log Files", "Blank", and
    // the "Site List" that "Web Sites" shows instead of "Blank" where there is one.
    QMap<QString, QWidget *> pages;
    QLabel *pnlDetailTitle = nullptr;
    TCatalogue *catalogue = nullptr;
    TFileDrag *fileDrag = nullptr;
};

class TNavigator : public QTreeWidget {
    Q_OBJECT
public:
    TNavigator(const TNavigatorParts &parts, QWidget *parent = nullptr);

    // Rebuilds the whole tree from the store and selects "General Options".
    void BuildNavigator();
    // Appends one site node per stored site under "Web Sites", in the store's order.
    void LoadSiteNodes();
    // Appends a child node of parent (a top-level node when parent is null) with its kind's
    // image; returns it.
    TNavigatorNode *AddNavigatorNode(QTreeWidgetItem *parent, const TTreeNodeObject &object, const QString &text);
    // Tells whether the name is empty or equals, letter case included, the text of a site node.
    bool SiteExists(const QString &name) const;
    // Returns the site nodes in tree order.
    QList<TNavigatorNode *> SiteNodes() const;

    // Selects node and runs the selection change at once, also when the node is already
    // selected; a failure of the change propagates to the caller.
    void SelectNode(QTreeWidgetItem *node);
    // Removes a site node; the selection change that the removal raises runs as the user's.
    void RemoveSiteNode(TNavigatorNode *node);
    // Shows the "Web Sites" page titled for the named site, whichever node is selected.
    void ShowSitePage(const QString &name);

    // The selection change for the newly selected node. When the shown site cannot be saved
    // the change stops, the previous node is selected again and the error propagates.
    void tvNavigatorChange(QTreeWidgetItem *node);

    TNavigatorNode *GeneralOptionsNode = nullptr;
    TNavigatorNode *WebSitesNode = nullptr;
    TNavigatorNode *ViewLogNode = nullptr;

    // Give a site node's picture and tooltip by the site's name, asked each time the node is
    // drawn or its tooltip shown; a null picture or an empty text leaves the node's own.
    std::function<QIcon(const QString &site)> SiteImage;
    std::function<QString(const QString &site)> SiteToolTip;

signals:
    // Told at the end of every selection change, done or stopped by a failure: the detail area
    // shows what it will show until the next one.
    void NodeShown();

private:
    void CurrentChanged(QTreeWidgetItem *current);
    void ShowDetail(const QString &page, const QString &title);
    void ShowNode(QTreeWidgetItem *node);
    void RestoreShownNode();

    TNavigatorParts m_parts;
    // The node whose change completed last: the tree goes back to it when a change fails.
    QPersistentModelIndex m_shownIndex;
    bool m_programSelecting = false;
};

} // namespace quelmark
