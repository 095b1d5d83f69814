#include "catalogue/P_Utils.h"
#include "catalogue/SiteRecord.h"

#include "catalogue/FileDialogs.h"
#include "catalogue/MessageBox.h"
#include "tests/support/Printing.h"
#include "tests/support/TestModes.h"

#include <QComboBox>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(PUtils, NormalizeHostDirTrimsAndEndsWithSlashOnlyWhenNeeded)
{
    const struct {
        const char *typed;
        const char *result;
    } cases[] = {
        {"  /www  ", "/www/"}, {"/www/  ", "/www/  "}, {"   ", "   "}, {"", ""}, {"www", "www/"}, {"/", "/"},
    };
    for (const auto &c : cases) {
        QString text = QString::fromLatin1(c.typed);
        NormalizeHostDir(text);
        EXPECT_EQ(text, QString::fromLatin1(c.result)) << "typed \"" << c.typed << '"';
    }
}

TEST(PUtils, SelectComboItemMatchesExactlyOrSelectsNothing)
{
    QComboBox list;
    list.addItems({"New", "Moved", "Edited"});
    SelectComboItem(&list, QStringLiteral("Moved"));
    EXPECT_EQ(list.currentIndex(), 1);
    SelectComboItem(&list, QStringLiteral("moved"));
    EXPECT_EQ(list.currentIndex(), -1);
    EXPECT_EQ(list.currentText(), QString());
}

// Message boxes and file dialogs share their test mode; each keeps a queue and a record of its
// own, and only questions take queued answers.
TEST(PUtils, ModalSeamsInTestModeRecordEachDialogAndAnswerOnlyQuestionsFromTheQueue)
{
    using TAnswer = TMessageBox::TAnswer;
    const test::TestModes<TMessageBox, TFileDialogs> modes;
    TMessageBox::SetNextAnswer(TAnswer::Yes);
    TFileDialogs::SetNextAnswer(QStringLiteral("/tmp/chosen.txt"));

    TMessageBox::Information(nullptr, QStringLiteral("note"));
    EXPECT_EQ(TMessageBox::Confirm(nullptr, QStringLiteral("sure?")), TAnswer::Yes) << "the note took no answer";
    EXPECT_EQ(TMessageBox::Confirm(nullptr, QStringLiteral("again?")), TAnswer::No) << "nothing queued: No";
    EXPECT_EQ(TMessageBox::ConfirmOkCancel(nullptr, QStringLiteral("go?")), TAnswer::Cancel);
    EXPECT_EQ(TFileDialogs::GetOpenFileName(nullptr, QStringLiteral("Open"), {}), QStringLiteral("/tmp/chosen.txt"));
    EXPECT_EQ(TFileDialogs::GetSaveFileName(nullptr, QStringLiteral("Save"), {}, QStringLiteral("txt")), QString());

    ASSERT_EQ(TMessageBox::Shown().size(), 4);
    EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::Information);
    EXPECT_EQ(TMessageBox::Shown()[3].text, QStringLiteral("go?"));
    ASSERT_EQ(TFileDialogs::Shown().size(), 2);
    EXPECT_EQ(TFileDialogs::Shown()[1].kind, TFileDialogs::TKind::Save);

    TMessageBox::SetNextAnswer(TAnswer::Yes);
    TMessageBox::SetTestMode(true);
    EXPECT_TRUE(TMessageBox::Shown().isEmpty()) << "switching starts a fresh record";
    EXPECT_EQ(TFileDialogs::Shown().size(), 2) << "the other seam keeps its own";
    EXPECT_EQ(TMessageBox::Confirm(nullptr, QStringLiteral("fresh?")), TAnswer::No) << "and a fresh queue";
}

} // namespace
