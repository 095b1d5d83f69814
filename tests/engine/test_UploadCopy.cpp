// The upload copy made in one pass against the same page split whole into lines and replaced
// line by line.
#include "engine/UploadCopy.h"

#include "base/Exception.h"
#include "tests/support/Files.h"
#include "tests/support/Printing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace quelmark {
namespace {

// The copy the straightforward way: the whole page split, replaced, joined with CR LF.
QByteArray WholeCopy(const QByteArray &page, const QByteArray &parameter, const QByteArray &address)
{
    QList<QByteArray> lines = SplitLines(page);
    ReplaceIPParam(lines, parameter, address);
    QByteArray copy;
    for (const QByteArray &line : lines)
        copy += line + "\r\n";
    return copy;
}

struct TStreamed {
    QByteArray copy;
    QList<QByteArray> localLines;
    QList<QByteArray> hostLines;
};

// The copy made by handing the page over in blocks of blockSize new bytes, the bytes a block
// leaves over handed again in front of the next, as the reader of a file does.
TStreamed Streamed(const QByteArray &page, const QByteArray &parameter, const QByteArray &address, qsizetype blockSize)
{
    TStreamed result;
    TPageSubstitution substitution(parameter, address, [&result](const QByteArray &local, const QByteArray &host) {
        result.localLines.append(local);
        result.hostLines.append(host);
    });
    QByteArray pending;
    qsizetype next = 0;
    for (;;) {
        const QByteArray block = page.mid(next, blockSize);
        next += block.size();
        pending += block;
        const bool last = block.isEmpty();
        const qsizetype taken = substitution.Take(pending.constData(), pending.size(), last, result.copy);
        if (last) {
            EXPECT_EQ(taken, pending.size());
            return result;
        }
        EXPECT_GE(taken, pending.size() - std::max<qsizetype>(parameter.size() - 1, 0));
        pending.remove(0, taken);
    }
}

TEST(PageSubstitution, CopiesInAnyBlockSizeEqualTheWholePageSplitAndReplaced)
{
    const QByteArray pages[] = {
        "",
        "\n",
        "\r",
        "\r\n",
        "\r\r\n\n",
        "no final line end",
        "a %IP% b %IP%\r\nno %ip% here\nx%IP%\r\xe9 %IP% \xff\nlast %IP%",
        "%IP%\r\n%IP%\r%IP%\n%IP%",
        "%IP%%IP%%IP%\r\n%I\r\nP%\n%%IP%%\n%IP",
        "aaaa\naaa\raa\r\na",
        QByteArray("nul\0 %IP% \0byte\r\n", sizeof("nul\0 %IP% \0byte\r\n") - 1),
        "a\r\n\r\nb\r\r\rc\n\n\nd\r",
    };
    const struct {
        QByteArray parameter;
        QByteArray address;
    } replacements[] = {
        {"%IP%", "192.168.100.200"},
        {"%IP%", "1"},
        {"%IP%", ""},
        {"aa", "b"},
        {"", "9.9.9.9"},
        {"%\r\nP", "x"},
        {"\n", "x"},
        {"%IP%%IP%", "2.2.2.2"},
    };
    for (const QByteArray &page : pages) {
        for (const auto &r : replacements) {
            QList<QByteArray> replaced = SplitLines(page);
            ReplaceIPParam(replaced, r.parameter, r.address);
            const QByteArray expected = WholeCopy(page, r.parameter, r.address);
            for (qsizetype blockSize = 1; blockSize <= page.size() + 1; ++blockSize) {
                const TStreamed streamed = Streamed(page, r.parameter, r.address, blockSize);
                const std::string what = "page \"" + page.toStdString() + "\", parameter \"" +
                                         r.parameter.toStdString() + "\", blocks of " + std::to_string(blockSize);
                ASSERT_EQ(streamed.copy, expected) << what;
                ASSERT_EQ(streamed.localLines, SplitLines(page)) << what;
                ASSERT_EQ(streamed.hostLines, replaced) << what;
            }
        }
    }
}

TEST(PageSubstitution, KnownCopiesOfAwkwardPages)
{
    const struct {
        QByteArray page;
        QByteArray copy;
    } cases[] = {
        {"", ""},
        {"one", "one\r\n"},
        {"a\rb\nc\r\n", "a\r\nb\r\nc\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        {"%IP%%IP%\n%IP", "1.2.3.4%IP%\r\n%IP\r\n"},
        {"%I\r\nP%", "%I\r\nP%\r\n"},
    };
    for (const auto &c : cases)
        for (qsizetype blockSize : {1, 2, 3, 1000})
            EXPECT_EQ(Streamed(c.page, "%IP%", "1.2.3.4", blockSize).copy, c.copy)
                << c.page.toStdString() << " in blocks of " << blockSize;
}

class UploadCopyFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Makes the copy of page through a real file, as a transfer does.
    QByteArray CopyOf(const QByteArray &page)
    {
        const QString source = Path("page.html");
        EXPECT_TRUE(test::WriteFile(source, page));
        QFile input(source);
        QString reason;
        EXPECT_TRUE(OpenPage(input, reason));
        TPageSubstitution substitution("%IP%", "192.168.1.77");
        TUploadCopyFile copy(Path("copy.$$$"));
        EXPECT_TRUE(SubstitutePage(input, substitution, copy, reason)) << reason.toStdString();
        copy.Commit();
        return test::ReadFile(Path("copy.$$$"), "<missing>");
    }

    QTemporaryDir dir;
};

TEST_F(UploadCopyFileTest, PagesLargerThanTheBufferKeepPlaceholdersAndLineEndsAcrossItsEdges)
{
    // Lines of ever other lengths and endings: wherever the reader's block edges fall, they cut
    // placeholders and CR LF pairs at every offset.
    const QByteArray endings[] = {"\r\n", "\n", "\r"};
    QByteArray page;
    for (int i = 0; page.size() < 3 * 1024 * 1024; ++i)
        page += QByteArray(i % 13, 'x') + "%IP%" + QByteArray(i % 5, 'y') + endings[i % 3];
    page += "tail %IP% without line end";
    EXPECT_EQ(CopyOf(page), WholeCopy(page, "%IP%", "192.168.1.77"));
    EXPECT_EQ(CopyOf(QByteArray()), QByteArray()) << "an empty page gives an empty copy";
    EXPECT_EQ(CopyOf("%IP%"), QByteArray("192.168.1.77\r\n"));
}

TEST_F(UploadCopyFileTest, APageThatCannotBeReadSaysWhyAndACopyNotCommittedLeavesNothing)
{
    QFile missing(Path("missing.html"));
    QString reason;
    EXPECT_FALSE(OpenPage(missing, reason));
    EXPECT_EQ(reason, QStringLiteral("No such file or directory"));

    {
        TUploadCopyFile copy(Path("copy.$$$"));
        copy.Write("half a page");
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());

    TUploadCopyFile copy(Path("absent/copy.$$$"));
    copy.Write("x\r\n");
    EXPECT_EQ(test::MessageOf<Exception>([&] { copy.Commit(); }),
              QStringLiteral("Cannot create file ") + Path("absent/copy.$$$"));
}

} // namespace
} // namespace quelmark
