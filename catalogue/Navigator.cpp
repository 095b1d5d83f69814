#include "catalogue/Navigator.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Icons.h"
#include "catalogue/filedrag.h"

#include <QLabel>
#include <QScopeGuard>
#include <QStackedWidget>

namespace quelmark {

TNavigatorNode::TNavigatorNode(const TTreeNodeObject &object, const QString &text)
    : QTreeWidgetItem(QStringList{text}, Type), Object(object)
{
}

QVariant TNavigatorNode::data(int column, int role) const
{
    const auto *navigator = qobject_cast<const TNavigator *>(treeWidget());
    if (Object.NodeKind == nkSite && navigator && column == 0) {
        if (role == Qt::DecorationRole && navigator->SiteImage) {
            if (const QIcon image = navigator->SiteImage(text(0)); !image.isNull())
                return image;
        }
        if (role == Qt::ToolTipRole && navigator->SiteToolTip) {
            if (const QString tip = navigator->SiteToolTip(text(0)); !tip.isEmpty())
                return tip;
        }
    }
    return QTreeWidgetItem::data(column, role);
}

QIcon NodeImage(int kind)
{
    // By node kind: nkGeneralOptions, nkWebSites, nkSite, nkViewLog.
    static constexpr TPicture images[] = {TPicture::GeneralOptions, TPicture::WebSites, TPicture::Site, TPicture::Log};
    if (kind < 0 || kind >= static_cast<int>(std::size(images)))
        return QIcon();
    return Picture(images[kind]);
}

int NodeKindOf(const QTreeWidgetItem *node)
{
    if (!node || node->type() != TNavigatorNode::Type)
        return -1;
    return static_cast<const TNavigatorNode *>(node)->Object.NodeKind;
}

TNavigator::TNavigator(const TNavigatorParts &parts, QWidget *parent) : QTreeWidget(parent), m_parts(parts)
{
    setObjectName(QStringLiteral("tvNavigator"));
    setColumnCount(1);
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // The selection must stay plain to see while the focus is in the detail area.
    QPalette colours = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *) { CurrentChanged(current); });
}

void TNavigator::BuildNavigator()
{
    {
        m_programSelecting = true;
        const auto done = qScopeGuard([this] { m_programSelecting = false; });
        m_shownIndex = QPersistentModelIndex();
        clear();
        GeneralOptionsNode = AddNavigatorNode(nullptr, {nkGeneralOptions}, pages::GeneralOptions);
        WebSitesNode = AddNavigatorNode(nullptr, {nkWebSites}, pages::WebSites);
        ViewLogNode = AddNavigatorNode(nullptr, {nkViewLog}, pages::ViewLog);
        LoadSiteNodes();
        expandAll();
    }
    SelectNode(GeneralOptionsNode);
}

void TNavigator::LoadSiteNodes()
{
    for (const QString &name : m_parts.catalogue->ListSites())
        AddNavigatorNode(WebSitesNode, {nkSite}, name);
}

TNavigatorNode *TNavigator::AddNavigatorNode(QTreeWidgetItem *parent, const TTreeNodeObject &object,
                                             const QString &text)
{
    auto *node = new TNavigatorNode(object, text);
    node->setIcon(0, NodeImage(object.NodeKind));
    node->setFlags(node->flags() & ~Qt::ItemIsEditable);
    if (parent)
        parent->addChild(node);
    else
        addTopLevelItem(node);
    return node;
}

QList<TNavigatorNode *> TNavigator::SiteNodes() const
{
    QList<TNavigatorNode *> nodes;
    if (!WebSitesNode)
        return nodes;
    for (int i = 0; i < WebSitesNode->childCount(); ++i) {
        if (NodeKindOf(WebSitesNode->child(i)) == nkSite)
            nodes.append(static_cast<TNavigatorNode *>(WebSitesNode->child(i)));
    }
    return nodes;
}

bool TNavigator::SiteExists(const QString &name) const
{
    if (name.isEmpty())
        return true;
    for (const TNavigatorNode *node : SiteNodes()) {
        if (node->text(0) == name)
            return true;
    }
    return false;
}

void TNavigator::SelectNode(QTreeWidgetItem *node)
{
    if (node != currentItem()) {
        m_programSelecting = true;
        const auto done = qScopeGuard([this] { m_programSelecting = false; });
        setCurrentItem(node);
    }
    tvNavigatorChange(node);
}

void TNavigator::RemoveSiteNode(TNavigatorNode *node)
{
    // The node is gone before any later change could want to go back to it.
    if (m_shownIndex == indexFromItem(node))
        m_shownIndex = QPersistentModelIndex();
    // Taken out of the tree while it is whole: the tree tells of the change of the current node
    // as the row goes, and whoever looks at the nodes then must not meet one half destroyed.
    if (QTreeWidgetItem *parent = node->parent())
        parent->removeChild(node);
    else
        takeTopLevelItem(indexOfTopLevelItem(node));
    delete node;
}

void TNavigator::CurrentChanged(QTreeWidgetItem *current)
{
    if (m_programSelecting)
        return;
    Guarded([this, current] { tvNavigatorChange(current); });
}

void TNavigator::tvNavigatorChange(QTreeWidgetItem *node)
{
    const auto shown = qScopeGuard([this] { emit NodeShown(); });
    try {
        m_parts.catalogue->SaveCurrentSite();
    } catch (...) {
        // The save is one transaction, so the store and the shown site are as they were: the
        // tree goes back to the node that still describes what the detail area shows.
        RestoreShownNode();
        throw;
    }
    m_parts.catalogue->SetCurrentSiteName(QString());
    m_parts.fileDrag->SetEnableDrop(false);
    m_shownIndex = node ? QPersistentModelIndex(indexFromItem(node)) : QPersistentModelIndex();
    ShowNode(node);
}

void TNavigator::ShowNode(QTreeWidgetItem *node)
{
    switch (NodeKindOf(node)) {
    case nkGeneralOptions:
        ShowDetail(pages::GeneralOptions, pages::GeneralOptions);
        break;
    case nkWebSites:
        ShowDetail(m_parts.pages.contains(pages::SiteList) ? pages::SiteList : pages::Blank, pages::WebSites);
        break;
    case nkSite: {
        const QString name = node->text(0);
        m_parts.fileDrag->SetEnableDrop(true);
        ShowSitePage(name);
        try {
            m_parts.catalogue->LoadSite(name);
        } catch (...) {
            // A half-loaded list must be neither shown nor written under this name.
            m_parts.fileDrag->SetEnableDrop(false);
            ShowDetail(pages::Blank, pages::SiteInformationFor + name);
            throw;
        }
        m_parts.catalogue->SetCurrentSiteName(name);
        break;
    }
    case nkViewLog:
        ShowDetail(pages::LogFiles, pages::LogFiles);
        break;
    default:
        break;
    }
}

void TNavigator::ShowSitePage(const QString &name)
{
    ShowDetail(pages::WebSites, pages::SiteInformationFor + name);
}

void TNavigator::ShowDetail(const QString &page, const QString &title)
{
    if (QWidget *widget = m_parts.pages.value(page); widget && m_parts.nbDetail)
        m_parts.nbDetail->setCurrentWidget(widget);
    if (m_parts.pnlDetailTitle)
        m_parts.pnlDetailTitle->setText(title);
}

void TNavigator::RestoreShownNode()
{
    if (!m_shownIndex.isValid() || m_shownIndex == currentIndex())
        return;
    m_programSelecting = true;
    const auto done = qScopeGuard([this] { m_programSelecting = false; });
    setCurrentIndex(m_shownIndex);
}

} // namespace quelmark
