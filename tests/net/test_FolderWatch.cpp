#include "net/FolderWatch.h"

#include "tests/support/Printing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using namespace quelmark;

namespace {

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// Writes a new file beside the old one and renames it over, as many editors save.
void WriteByRename(const QString &path, const QByteArray &bytes)
{
    Write(path + QStringLiteral(".new~"), bytes);
    ASSERT_EQ(
        ::rename(QFile::encodeName(path + QStringLiteral(".new~")).constData(), QFile::encodeName(path).constData()),
        0);
}

class FolderWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("site/pages")));
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("elsewhere")));
        Write(Path("site/index.html"), "<p>%IP%</p>\n");
        Write(Path("site/pages/about.html"), "about\n");
        Write(Path("site/other.txt"), "not watched\n");
        Write(Path("elsewhere/target.html"), "target\n");
        ASSERT_TRUE(QFile::link(Path("elsewhere/target.html"), Path("site/link.html")));
        m_watch.OnChanged = [this](QObject *sender, const QStringList &files) {
            EXPECT_EQ(sender, &m_watch);
            m_calls.append(files);
        };
    }

    QString Path(const char *relative) const { return m_dir.filePath(QString::fromLatin1(relative)); }

    // Waits until the burst has settled and the watch is quiet again.
    void Settle() { QTest::qWait(TFolderWatch::kQuietMs + 800); }

    QTemporaryDir m_dir;
    TFolderWatch m_watch;
    QList<QStringList> m_calls;
};

TEST_F(FolderWatchTest, NamesTheWatchedFilesThatWereWrittenReplacedOrChanged)
{
    const QString index = Path("site/index.html");
    const QString about = Path("site/pages/about.html");
    const QString link = Path("site/link.html");
    ASSERT_TRUE(m_watch.SetFiles({index, about, link})) << m_watch.Error().toStdString();
    const struct {
        const char *what;
        std::function<void()> change;
        QList<QStringList> expected;
    } rows[] = {
        {"written in place", [&] { Write(index, "<p>%IP%</p>\n<p>more</p>\n"); }, {{index}}},
        {"written by rename", [&] { WriteByRename(index, "renamed\n"); }, {{index}}},
        {"written again after the rename", [&] { Write(index, "again\n"); }, {{index}}},
        {"made read-only", [&] { ::chmod(QFile::encodeName(about).constData(), 0444); }, {{about}}},
        {"through its link", [&] { Write(Path("elsewhere/target.html"), "new target\n"); }, {{link}}},
        {"another file of the folder", [&] { Write(Path("site/other.txt"), "changed\n"); }, {}},
        {"two files in two folders, with many writes",
         [&] {
             for (int i = 0; i < 10; ++i) {
                 Write(index, QByteArray::number(i));
                 Write(about, QByteArray::number(i));
                 QTest::qWait(50);
             }
         },
         {{index, about}}},
        {"a file removed", [&] { QFile::remove(about); }, {}},
    };
    for (const auto &row : rows) {
        m_calls.clear();
        row.change();
        Settle();
        EXPECT_EQ(m_calls, row.expected) << row.what;
    }
}

TEST_F(FolderWatchTest, AFolderMadeOrRemovedLaterIsTakenUpByTheNextSetFiles)
{
    const QString later = Path("later/page.html");
    const QString index = Path("site/index.html");
    ASSERT_TRUE(m_watch.SetFiles({later, index})) << "a folder not there yet is no error";
    EXPECT_EQ(m_watch.WatchedFolders(), QStringList{Path("site")});

    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("later")));
    Write(later, "made later\n");
    Settle();
    EXPECT_TRUE(m_calls.isEmpty()) << "the watch cannot see a folder made after it";

    ASSERT_TRUE(m_watch.SetFiles({later, index}));
    Write(later, "changed\n");
    Settle();
    EXPECT_EQ(m_calls, (QList<QStringList>{{later}}));

    m_calls.clear();
    ASSERT_TRUE(QDir(Path("later")).removeRecursively());
    Settle();
    EXPECT_EQ(m_watch.WatchedFolders(), QStringList{Path("site")}) << "the removed folder's watch has ended";
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("later")));
    ASSERT_TRUE(m_watch.SetFiles({later, index}));
    Write(later, "again\n");
    Write(index, "and here\n");
    Settle();
    EXPECT_EQ(m_calls, (QList<QStringList>{{later, index}}));

    m_calls.clear();
    ASSERT_TRUE(m_watch.SetFiles({}));
    Write(index, "unwatched\n");
    Settle();
    EXPECT_TRUE(m_calls.isEmpty());
    EXPECT_TRUE(m_watch.WatchedFolders().isEmpty());
}

} // namespace
