// What the pushes came to, in the window: the file list's "Error" rows tell why and when in their
// tooltips, each site node carries a mark of its last result and a tooltip with its server, user,
// protocol and last push, and "Web Sites" lists the sites with the same. The results are the
// engine view's (engine/PushResults.h), kept for as long as the window runs. Also the site page's
// connection test, which says what it found beside its button.
#include "app/F_Main.h"

#include "base/Printable.h"
#include "catalogue/Icons.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteEditing.h"
#include "catalogue/SiteRecord.h"
#include "engine/Engine.h"
#include "engine/EngineView.h"
#include "engine/PushCommands.h"

#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quelmark {

namespace {

QString WhenText(const QDateTime &time)
{
    return QLocale::system().toString(time, QLocale::ShortFormat);
}

// The columns of the site list.
enum TSiteColumn : int { scSite, scServer, scProtocol, scLastPush, scResult, scCount };

} // namespace

void TfrmMain::CreateSiteListPage()
{
    QWidget *page = AddPage(pages::SiteList);
    lvSites = Named(new QTreeWidget, "lvSites");
    lvSites->setRootIsDecorated(false);
    lvSites->setItemsExpandable(false);
    lvSites->setUniformRowHeights(true);
    lvSites->setHeaderLabels({QStringLiteral("Site"), QStringLiteral("Server"), QStringLiteral("Protocol"),
                              QStringLiteral("Last Push"), QStringLiteral("Result")});
    lvSites->header()->setStretchLastSection(true);
    // A site of the list opens as its node does.
    connect(lvSites, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        Guarded([this, item] {
            for (TNavigatorNode *node : tvNavigator->SiteNodes()) {
                if (node->text(0) == item->text(scSite)) {
                    tvNavigator->SelectNode(node);
                    return;
                }
            }
        });
    });
    auto *column = new QVBoxLayout(page);
    column->addWidget(lvSites);
}

void TfrmMain::FollowResults()
{
    TPushResults &results = m_view->Results();
    m_resultsShown = new QTimer(this);
    m_resultsShown->setSingleShot(true);
    m_resultsShown->setInterval(0);
    connect(m_resultsShown, &QTimer::timeout, this, [this] { Guarded([this] { ShowResults(); }); });
    results.OnChange = [this](const QString &) { m_resultsShown->start(); };
    lvFileDetails->RowToolTip = [this](const TListRow &row) { return RowResult(row); };
    tvNavigator->SiteImage = [this](const QString &site) { return SiteImage(site); };
    tvNavigator->SiteToolTip = [this](const QString &site) { return SiteToolTip(site); };
    connect(tvNavigator, &TNavigator::NodeShown, this, [this] {
        // A test's line is about the site it tried.
        lblTestConnection->clear();
        lblTestConnection->setToolTip(QString());
        if (CurrentPageTitle() == pages::SiteList)
            Guarded([this] { FillSiteList(); });
        m_resultsShown->start();
    });
    // A row the user removed or set to another status no longer fails.
    for (const auto signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted}) {
        connect(lvFileDetails->model(), signal, this, [this] { m_resultsShown->start(); });
    }
    connect(lvFileDetails->model(), &QAbstractItemModel::dataChanged, this, [this] { m_resultsShown->start(); });
    connect(m_editor, &TSiteEditor::SiteRenamed, this,
            [this](const QString &from, const QString &to) { m_view->Results().RenameSite(from, to); });
    connect(m_editor, &TSiteEditor::SiteDeleted, this,
            [this](const QString &name) { m_view->Results().ForgetSite(name); });
}

void TfrmMain::btnTestConnectionClick()
{
    const QString found = m_engine->Push().TestConnection(m_catalogue->CurrentSite());
    if (found.isEmpty())
        return;
    lblTestConnection->setText(PrintableText(found));
    lblTestConnection->setToolTip(lblTestConnection->text());
}

void TfrmMain::ShowResults()
{
    // The shown site's list is what its rows are now: the failures of rows that went or no
    // longer say "Error" no longer stand.
    if (const QString &site = m_catalogue->CurrentSiteName(); !site.isEmpty()) {
        QList<std::pair<QString, QString>> failed;
        for (int i = 0; i < lvFileDetails->RowCount(); ++i) {
            const TListRow *row = lvFileDetails->Row(i);
            if (row && row->SubItem(colStatus) == FileStatus::Error)
                failed.append({row->Caption(), row->SubItem(colHostFileName)});
        }
        m_view->Results().KeepFailures(site, failed);
    }
    tvNavigator->viewport()->update();
    if (CurrentPageTitle() == pages::SiteList)
        FillSiteList();
    if (isEnabled())
        m_view->ShowStandingFailure();
}

QString TfrmMain::RowResult(const TListRow &row) const
{
    if (row.SubItem(colStatus) != FileStatus::Error)
        return QString();
    const std::optional<TFileOutcome> failure =
        m_view->Results().Failure(m_catalogue->CurrentSiteName(), row.Caption(), row.SubItem(colHostFileName));
    if (!failure)
        return QString();
    return QStringLiteral("Last push failed: %1\n%2")
        .arg(WhenText(failure->time), PrintableText(failure->result.reason));
}

QIcon TfrmMain::SiteImage(const QString &site) const
{
    const std::optional<TSiteOutcome> outcome = m_view->Results().Site(site);
    if (!outcome)
        return QIcon();
    if (m_siteMarks.isEmpty())
        m_siteMarks = {MarkedPicture(TPicture::Site, false), MarkedPicture(TPicture::Site, true)};
    return m_siteMarks.value(outcome->Failing() ? 0 : 1);
}

TSite TfrmMain::SiteValues(const QString &name) const
{
    if (name == m_catalogue->CurrentSiteName())
        return m_catalogue->CurrentSite();
    TSite site;
    site.name = name;
    TRegIniFile ini(m_catalogue->BasePath());
    ReadSiteValues(ini, store::SiteSection(name), site);
    return site;
}

QString TfrmMain::LastPushText(const QString &site) const
{
    const std::optional<TSiteOutcome> outcome = m_view->Results().Site(site);
    if (!outcome)
        return QStringLiteral("none since the program started");
    return WhenText(outcome->last.time) + QStringLiteral(", ") + PrintableText(SiteResultText(outcome));
}

QString TfrmMain::SiteToolTip(const QString &name) const
{
    const TSite site = SiteValues(name);
    return QStringList{
        QStringLiteral("Server: ") + PrintableText(site.server), QStringLiteral("User: ") + PrintableText(site.user),
        QStringLiteral("Protocol: ") + ProtocolText(site), QStringLiteral("Last push: ") + LastPushText(name)}
        .join(QLatin1Char('\n'));
}

void TfrmMain::FillSiteList()
{
    lvSites->clear();
    for (const TNavigatorNode *node : tvNavigator->SiteNodes()) {
        const QString name = node->text(0);
        const TSite site = SiteValues(name);
        const std::optional<TSiteOutcome> outcome = m_view->Results().Site(name);
        auto *item = new QTreeWidgetItem(lvSites);
        item->setText(scSite, name);
        item->setIcon(scSite, node->icon(0));
        item->setText(scServer, PrintableText(site.server));
        item->setText(scProtocol, ProtocolText(site));
        item->setText(scLastPush, outcome ? WhenText(outcome->last.time) : QString());
        item->setText(scResult, PrintableText(SiteResultText(outcome)));
        item->setToolTip(scResult, item->text(scResult));
    }
    for (int k = 0; k < scCount - 1; ++k)
        lvSites->resizeColumnToContents(k);
}

} // namespace quelmark
