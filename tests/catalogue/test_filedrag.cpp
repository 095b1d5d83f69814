#include "base/Exception.h"
#include "catalogue/filedrag.h"
#include "tests/support/StoreDump.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

class FileDragTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drag = new TFileDrag(&window);
        drag->OnDrop = [this](TFileDrag *sender) {
            EXPECT_EQ(sender, drag);
            ++drops;
        };
        SetTopLevelReporter([this](const QString &message) { reported.append(message); });
    }
    void TearDown() override { SetTopLevelReporter(nullptr); }

    static void SetUrls(QMimeData &data, const QStringList &urls)
    {
        QList<QUrl> list;
        for (const QString &url : urls)
            list.append(QUrl(url));
        data.setUrls(list);
    }

    bool Enter(const QStringList &urls)
    {
        QMimeData data;
        SetUrls(data, urls);
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        return enter.isAccepted();
    }

    bool DropOn(const QStringList &urls)
    {
        QMimeData data;
        SetUrls(data, urls);
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &drop);
        return drop.isAccepted();
    }

    QWidget window;
    TFileDrag *drag = nullptr;
    int drops = 0;
    QStringList reported;
};

TEST_F(FileDragTest, DropListsPathsNamesAndExtensionsAfreshAndRaisesOnDropOnce)
{
    drag->Drop({"/tmp/old.txt", "/tmp/older.txt", "/tmp/oldest.txt"});
    drag->Drop({"/home/u/site/index.html", "/home/u/README", "/home/u/.hidden", "/home/u/a.b/c"});

    EXPECT_EQ(drops, 2);
    ASSERT_EQ(drag->FileCount(), 4);
    EXPECT_EQ(drag->NameWithPath(0), QStringLiteral("/home/u/site/index.html"));
    EXPECT_EQ(drag->NameOnly(0), QStringLiteral("index.html"));
    EXPECT_EQ(drag->Extension(0), QStringLiteral(".html"));
    EXPECT_EQ(drag->NameOnly(1), QStringLiteral("README"));
    EXPECT_EQ(drag->Extension(1), QString());
    EXPECT_EQ(drag->NameOnly(2), QStringLiteral(".hidden"));
    EXPECT_EQ(drag->NameOnly(3), QStringLiteral("c")) << "a dot in a folder name is no extension";
    EXPECT_EQ(drag->Extension(3), QString());
    EXPECT_EQ(drag->NameWithPath(4), QString()) << "past the end";
    EXPECT_EQ(drag->NameOnly(-1), QString());
}

TEST_F(FileDragTest, WindowTakesLocalFilesOnlyWhileDropsAreEnabled)
{
    EXPECT_FALSE(drag->EnableDrop()) << "drops start switched off";
    EXPECT_TRUE(window.acceptDrops());
    EXPECT_FALSE(Enter({"file:///tmp/a.html"}));
    EXPECT_FALSE(DropOn({"file:///tmp/a.html"}));
    EXPECT_EQ(drops, 0);

    drag->SetEnableDrop(true);
    EXPECT_TRUE(Enter({"file:///tmp/a.html"}));
    EXPECT_FALSE(Enter({"https://example.org/a.html"})) << "nothing local to add";
    EXPECT_TRUE(DropOn({"file:///tmp/b%20c.html", "https://example.org/x", "file:///tmp/a.html"}));
    EXPECT_EQ(drops, 1);
    ASSERT_EQ(drag->FileCount(), 2);
    EXPECT_EQ(drag->NameWithPath(0), QStringLiteral("/tmp/b c.html")) << "in the order delivered, decoded";
    EXPECT_EQ(drag->NameWithPath(1), QStringLiteral("/tmp/a.html"));
}

TEST_F(FileDragTest, FailureInsideOnDropReachesTheErrorDisplayNotQt)
{
    drag->SetEnableDrop(true);
    drag->OnDrop = [](TFileDrag *) { throw Exception(QStringLiteral("Failed to create key x")); };
    ASSERT_TRUE(Enter({"file:///tmp/a.html"})) << "a drag enters before it drops";
    EXPECT_TRUE(DropOn({"file:///tmp/a.html"}));
    EXPECT_EQ(reported, QStringList({"Failed to create key x"}));
}

} // namespace
