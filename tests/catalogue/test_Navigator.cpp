#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "tests/support/CatalogueWindow.h"
#include "tests/support/StoreDump.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

class NavigatorTest : public ::testing::Test, public test::CatalogueWindow {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid());
        SetTopLevelReporter([this](const QString &message) { reported.append(message); });
    }

    void TearDown() override { SetTopLevelReporter(nullptr); }

    bool DragAccepted()
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/page.html"))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        return enter.isAccepted();
    }

    QStringList reported;
};

TEST_F(NavigatorTest, EmptyStoreGivesThreeNodesWithGeneralOptionsShownAndTheOptionsWritten)
{
    navigator->BuildNavigator();

    ASSERT_EQ(navigator->topLevelItemCount(), 3);
    EXPECT_EQ(navigator->topLevelItem(0)->text(0), pages::GeneralOptions);
    EXPECT_EQ(navigator->topLevelItem(1)->text(0), pages::WebSites);
    EXPECT_EQ(navigator->topLevelItem(2)->text(0), pages::ViewLog);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(navigator->topLevelItem(i)->icon(0).pixmap(16).isNull()) << "node " << i << " has an image";
    EXPECT_EQ(navigator->WebSitesNode->childCount(), 0);
    EXPECT_EQ(navigator->currentItem(), navigator->GeneralOptionsNode);
    EXPECT_EQ(ShownPage(), pages::GeneralOptions);
    EXPECT_EQ(title->text(), pages::GeneralOptions);
    EXPECT_EQ(TRegIniFile(BaseKeyPath()).ReadText(store::GeneralOptions, store::DefaultIPParam, "<absent>"),
              QStringLiteral("%IP%"));
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(NavigatorTest, SiteNodesFollowTheStoresNameOrderAndLoadOnlyWhenSelected)
{
    StoreSite(QStringLiteral("zeta.example"), "/z");
    StoreSite(QStringLiteral("Alpha.example"), "/a");
    StoreSite(QStringLiteral("mid.example"), "/m");
    navigator->BuildNavigator();

    QStringList texts;
    for (TNavigatorNode *node : navigator->SiteNodes()) {
        texts.append(node->text(0));
        EXPECT_EQ(node->Object.NodeKind, nkSite);
        EXPECT_FALSE(node->icon(0).pixmap(16).isNull());
    }
    EXPECT_EQ(texts, QStringList({"Alpha.example", "mid.example", "zeta.example"})) << "in name order";
    EXPECT_TRUE(navigator->WebSitesNode->isExpanded());
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 0) << "building lists names only";

    navigator->setCurrentItem(SiteNode(QStringLiteral("Alpha.example")));
    EXPECT_EQ(catalogue->CurrentSiteName(), QStringLiteral("Alpha.example"));
    EXPECT_EQ(ShownPage(), pages::WebSites);
    EXPECT_EQ(title->text(), pages::SiteInformationFor + "Alpha.example");
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->Caption(), QStringLiteral("/a"));

    navigator->setCurrentItem(navigator->ViewLogNode);
    EXPECT_EQ(ShownPage(), pages::LogFiles);
    EXPECT_EQ(title->text(), pages::LogFiles);
    EXPECT_TRUE(catalogue->CurrentSiteName().isEmpty());
}

TEST_F(NavigatorTest, WebSitesNodeHidesTheListWithoutClearingOrWritingItAgain)
{
    StoreSite(QStringLiteral("a.example"), "/first");
    navigator->BuildNavigator();
    navigator->setCurrentItem(SiteNode(QStringLiteral("a.example")));
    Shown().lvFileDetails->Row(0)->SetSubItem(colStatus, FileStatus::Hold);

    navigator->setCurrentItem(navigator->WebSitesNode);
    EXPECT_EQ(ShownPage(), pages::Blank);
    EXPECT_EQ(title->text(), pages::WebSites);
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 1) << "the list is hidden, not cleared";
    const QString status = BaseKeyPath() + '\\' + store::SiteSection("a.example") + '\\' + store::ItemSection(0) + '|' +
                           store::SublineName(colStatus);
    EXPECT_EQ(Stored(status), QStringList({status + "|1|" + FileStatus::Hold})) << "leaving the site wrote it";

    Shown().lvFileDetails->Row(0)->SetSubItem(colStatus, FileStatus::Error);
    Shown().lvFileDetails->AddRow()->SetCaption(QStringLiteral("/second"));
    navigator->setCurrentItem(navigator->GeneralOptionsNode);
    EXPECT_EQ(Stored(status), QStringList({status + "|1|" + FileStatus::Hold})) << "a site not shown is not written";
    EXPECT_TRUE(Stored(store::ItemSection(1)).isEmpty());
}

TEST_F(NavigatorTest, DropsAreAcceptedOnlyWhileASiteNodeIsSelected)
{
    StoreSite(QStringLiteral("a.example"), "/a");
    navigator->BuildNavigator();
    EXPECT_FALSE(DragAccepted()) << "General Options node";
    navigator->setCurrentItem(navigator->WebSitesNode);
    EXPECT_FALSE(DragAccepted()) << "Web Sites node";
    navigator->setCurrentItem(SiteNode(QStringLiteral("a.example")));
    EXPECT_TRUE(DragAccepted()) << "a site";
    navigator->setCurrentItem(navigator->ViewLogNode);
    EXPECT_FALSE(DragAccepted()) << "View Log node";
}

TEST_F(NavigatorTest, SiteExistsRegardsCaseAndCountsTheEmptyName)
{
    StoreSite(QStringLiteral("Ftp.Example.org"), "/a");
    navigator->BuildNavigator();
    EXPECT_TRUE(navigator->SiteExists(QString()));
    EXPECT_TRUE(navigator->SiteExists(QStringLiteral("Ftp.Example.org")));
    EXPECT_FALSE(navigator->SiteExists(QStringLiteral("ftp.example.org")));
    EXPECT_FALSE(navigator->SiteExists(QStringLiteral("Ftp.Example.org ")));
    EXPECT_FALSE(navigator->SiteExists(pages::GeneralOptions)) << "only site nodes count";
}

TEST_F(NavigatorTest, RemovingTheSelectedNodeRunsASelectionChange)
{
    StoreSite(QStringLiteral("a.example"), "/a");
    StoreSite(QStringLiteral("b.example"), "/b");
    navigator->BuildNavigator();
    navigator->setCurrentItem(SiteNode(QStringLiteral("a.example")));
    ASSERT_EQ(catalogue->CurrentSiteName(), QStringLiteral("a.example"));

    // Plain removal through the tree itself, not only through the navigator's own call.
    delete SiteNode(QStringLiteral("a.example"));
    QTreeWidgetItem *now = navigator->currentItem();
    ASSERT_NE(now, nullptr);
    const QString expected = NodeKindOf(now) == nkSite ? now->text(0) : QString();
    EXPECT_EQ(catalogue->CurrentSiteName(), expected) << "the new current node was handled";
    EXPECT_NE(catalogue->CurrentSiteName(), QStringLiteral("a.example"));

    navigator->RemoveSiteNode(SiteNode(QStringLiteral("b.example")));
    EXPECT_NE(catalogue->CurrentSiteName(), QStringLiteral("b.example"));
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(NavigatorTest, SelectNodeRunsTheChangeEvenForTheSelectedNode)
{
    StoreSite(QStringLiteral("a.example"), "/a");
    navigator->BuildNavigator();
    navigator->SelectNode(SiteNode(QStringLiteral("a.example")));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    Shown().lvFileDetails->Row(0)->SetCaption(QStringLiteral("/edited"));
    navigator->SelectNode(SiteNode(QStringLiteral("a.example")));
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->Caption(), QStringLiteral("/edited")) << "saved, then read back";
    EXPECT_EQ(catalogue->CurrentSiteName(), QStringLiteral("a.example"));
}

TEST_F(NavigatorTest, FailedSaveStopsTheChangeAndKeepsTheShownSiteSelected)
{
    StoreSite(QStringLiteral("a.example"), "/a");
    navigator->BuildNavigator();
    navigator->setCurrentItem(SiteNode(QStringLiteral("a.example")));
    const QStringList before = test::DumpStore(store.FilePath());
    test::PoisonValueName(store.FilePath(), store::DefaultIPParam);

    navigator->setCurrentItem(navigator->ViewLogNode);
    EXPECT_EQ(reported.size(), 1) << "the error reached the general display";
    EXPECT_EQ(navigator->currentItem(), SiteNode(QStringLiteral("a.example")));
    EXPECT_EQ(ShownPage(), pages::WebSites);
    EXPECT_EQ(title->text(), pages::SiteInformationFor + "a.example");
    EXPECT_EQ(catalogue->CurrentSiteName(), QStringLiteral("a.example"));
    EXPECT_TRUE(fileDrag->EnableDrop());
    EXPECT_EQ(test::DumpStore(store.FilePath()), before);

    EXPECT_ANY_THROW(navigator->SelectNode(navigator->GeneralOptionsNode)) << "a program selection fails outward";
    EXPECT_EQ(navigator->currentItem(), SiteNode(QStringLiteral("a.example")));
}

} // namespace
