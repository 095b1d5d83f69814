#include "catalogue/Catalogue.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "tests/support/StoreDump.h"
#include "tests/support/TempStore.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QMainWindow>
#include <QToolBar>

#include <gtest/gtest.h>

using namespace quelmark;
using quelmark::test::DumpStore;

namespace {

const QString &kSection = store::GeneralOptions;

class RegControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid());
        // Touch the store so that it exists for outside connections.
        TRegIniFile touch(BaseKeyPath());
    }

    void Put(const QString &section, const QString &name, const QString &value)
    {
        TRegIniFile(BaseKeyPath()).WriteText(section, name, value);
    }

    QString Get(const QString &section, const QString &name)
    {
        return TRegIniFile(BaseKeyPath()).ReadText(section, name, QStringLiteral("<absent>"));
    }

    QString KeyPath(const QString &section) const { return BaseKeyPath() + QLatin1Char('\\') + section; }

    template <typename T> T *Persisted(const char *keyword, const QString &section = kSection)
    {
        auto *control = new T(&window);
        control->SetRegSection(section);
        control->SetRegKeyword(QString::fromLatin1(keyword));
        return control;
    }

    test::TempStore store;
    QWidget window;
};

// ---- values and their encodings ---------------------------------------------------------

TEST_F(RegControlsTest, SpinEditReadsStoredNumbersClampedAndKeepsItsValueForJunk)
{
    const struct {
        const char *stored;
        int expected;
    } cases[] = {
        {"0x1E", 30},  {"$1E", 30}, {"0X1e", 30}, {"45", 45},     {"junk", 10},   {"", 10},
        {"12abc", 10}, {"0", 1},    {"-5", 1},    {"9999", 7200}, {"7200", 7200},
    };
    auto *spin = Persisted<TRegSpinEdit>("MinsTestFiles");
    spin->SetRange(1, 7200);
    for (const auto &c : cases) {
        spin->SetValue(10);
        Put(kSection, QStringLiteral("MinsTestFiles"), QString::fromLatin1(c.stored));
        LoadRegControls(&window, BaseKeyPath());
        EXPECT_EQ(spin->Value(), c.expected) << "stored " << c.stored;
        EXPECT_EQ(spin->text(), QString::number(c.expected)) << "stored " << c.stored;
    }
}

TEST_F(RegControlsTest, SpinEditTextThatIsNoNumberReadsAsOneAndFocusLossClampsTheText)
{
    TRegSpinEdit spin;
    spin.SetRange(1, 7200);
    spin.SetSingleStep(5);
    spin.SetValue(10);

    spin.SetText(QStringLiteral("abc"));
    EXPECT_EQ(spin.Value(), 1);
    spin.SetText(QString());
    EXPECT_EQ(spin.Value(), 1);

    spin.SetText(QStringLiteral("9999"));
    EXPECT_EQ(spin.Value(), 7200);
    EXPECT_EQ(spin.text(), QStringLiteral("9999")) << "typing alone does not rewrite the text";
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&spin, &focusOut);
    EXPECT_EQ(spin.text(), QStringLiteral("7200"));

    spin.SetValue(0);
    EXPECT_EQ(spin.text(), QStringLiteral("1"));
}

TEST_F(RegControlsTest, SpinEditArrowsStepWithinTheRange)
{
    TRegSpinEdit spin;
    spin.SetRange(1, 7200);
    spin.SetSingleStep(5);
    spin.SetValue(10);
    spin.stepBy(1);
    EXPECT_EQ(spin.Value(), 15);
    spin.stepBy(-4);
    EXPECT_EQ(spin.Value(), 1);
    spin.SetValue(7198);
    spin.stepBy(1);
    EXPECT_EQ(spin.Value(), 7200);
}

TEST_F(RegControlsTest, BooleansReadAnyNonZeroNumberAsTrueAndKeepStateWhenEmpty)
{
    auto *check = Persisted<TRegCheckBox>("Autoprocess");
    const struct {
        const char *stored;
        bool before;
        bool expected;
    } cases[] = {
        {"2", false, true}, {"1", false, true}, {"-1", false, true}, {"0", true, false},
        {"", true, true},   {"", false, false}, {"yes", true, true},
    };
    for (const auto &c : cases) {
        check->setChecked(c.before);
        Put(kSection, QStringLiteral("Autoprocess"), QString::fromLatin1(c.stored));
        LoadRegControls(&window, BaseKeyPath());
        EXPECT_EQ(check->isChecked(), c.expected) << "stored '" << c.stored << "'";
    }
}

TEST_F(RegControlsTest, EveryKindSavesAndLoadsItsState)
{
    auto *edit = Persisted<TRegEdit>("Edit");
    auto *mask = Persisted<TRegMaskEdit>("Mask");
    auto *radio = Persisted<TRegRadioButton>("Radio");
    auto *speed = Persisted<TRegSpeedButton>("Speed");
    auto *comboText = Persisted<TRegComboBox>("ComboText");
    auto *comboIndex = Persisted<TRegComboBox>("ComboIndex");
    auto *listBox = Persisted<TRegListBox>("ListBox");
    auto *group = Persisted<TRegRadioGroup>("Group");
    comboIndex->SetRegSaveIndex(true);
    listBox->SetRegSaveIndex(true);
    for (QComboBox *combo : {static_cast<QComboBox *>(comboText), static_cast<QComboBox *>(comboIndex)})
        combo->addItems({QStringLiteral("Ascii"), QStringLiteral("Binary"), QStringLiteral("Other")});
    listBox->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    group->SetItems({QStringLiteral("one"), QStringLiteral("two")});

    edit->setText(QStringLiteral("text ünïcode"));
    mask->setText(QStringLiteral("12-34"));
    radio->setChecked(true);
    speed->setChecked(true);
    comboText->setCurrentIndex(1);
    comboIndex->setCurrentIndex(2);
    listBox->setCurrentRow(1);
    group->SetItemIndex(1);
    SaveRegControls(&window, BaseKeyPath());

    EXPECT_EQ(Get(kSection, QStringLiteral("ComboText")), QStringLiteral("Binary"));
    EXPECT_EQ(Get(kSection, QStringLiteral("ComboIndex")), QStringLiteral("2"));
    EXPECT_EQ(Get(kSection, QStringLiteral("ListBox")), QStringLiteral("1"));
    EXPECT_EQ(Get(kSection, QStringLiteral("Group")), QStringLiteral("1"));
    EXPECT_EQ(Get(kSection, QStringLiteral("Speed")), QStringLiteral("1"));

    edit->clear();
    mask->clear();
    radio->setChecked(false);
    speed->setChecked(false);
    comboText->setCurrentIndex(0);
    comboIndex->setCurrentIndex(0);
    listBox->setCurrentRow(0);
    group->SetItemIndex(-1);
    LoadRegControls(&window, BaseKeyPath());

    EXPECT_EQ(edit->text(), QStringLiteral("text ünïcode"));
    EXPECT_EQ(mask->text(), QStringLiteral("12-34"));
    EXPECT_TRUE(radio->isChecked());
    EXPECT_TRUE(speed->isChecked());
    EXPECT_EQ(comboText->currentText(), QStringLiteral("Binary"));
    EXPECT_EQ(comboIndex->currentIndex(), 2);
    EXPECT_EQ(listBox->currentRow(), 1);
    EXPECT_EQ(group->ItemIndex(), 1);
}

// A text that none of the fixed items has (a later version's choice, say) selects nothing and
// goes back to the store as it came, until the user picks an item.
TEST_F(RegControlsTest, ADropDownKeepsAStoredTextItDoesNotOffer)
{
    auto *combo = Persisted<TRegComboBox>("Choice");
    combo->addItems({QStringLiteral("Local"), QStringLiteral("Web")});
    Put(kSection, QStringLiteral("Choice"), QStringLiteral("Carrier pigeon"));
    LoadRegControls(&window, BaseKeyPath());
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->RegText(), QStringLiteral("Carrier pigeon"));
    SaveRegControls(&window, BaseKeyPath());
    EXPECT_EQ(Get(kSection, QStringLiteral("Choice")), QStringLiteral("Carrier pigeon"));

    combo->setCurrentIndex(1);
    SaveRegControls(&window, BaseKeyPath());
    EXPECT_EQ(Get(kSection, QStringLiteral("Choice")), QStringLiteral("Web"));
}

TEST_F(RegControlsTest, MemoKeepsItsEightFontAndColourValues)
{
    auto *memo = Persisted<TRegMemo>("Log", QStringLiteral("Memo"));
    QFont font(QStringLiteral("Courier"), 13);
    font.setItalic(true);
    font.setStrikeOut(true);
    memo->setFont(font);
    QPalette colours = memo->palette();
    colours.setColor(QPalette::Base, QColor(0x10, 0x20, 0x30));
    colours.setColor(QPalette::Text, QColor(0xAA, 0xBB, 0xCC));
    memo->setPalette(colours);
    memo->setPlainText(QStringLiteral("not stored"));
    SaveRegControls(&window, BaseKeyPath());

    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), KeyPath(QStringLiteral("Memo"))),
              QStringList({"LogBGColor", "LogFontName", "LogFontColor", "LogFontSize", "LogFontBold", "LogFontItalic",
                           "LogFontUnderline", "LogFontStrikeOut"}));
    EXPECT_EQ(Get(QStringLiteral("Memo"), QStringLiteral("LogBGColor")), QString::number(0x302010));
    EXPECT_EQ(Get(QStringLiteral("Memo"), QStringLiteral("LogFontColor")), QString::number(0xCCBBAA));
    EXPECT_EQ(Get(QStringLiteral("Memo"), QStringLiteral("LogFontSize")), QStringLiteral("13"));
    EXPECT_EQ(Get(QStringLiteral("Memo"), QStringLiteral("LogFontItalic")), QStringLiteral("1"));
    EXPECT_EQ(Get(QStringLiteral("Memo"), QStringLiteral("LogFontBold")), QStringLiteral("0"));

    QWidget other;
    auto *loaded = new TRegMemo(&other);
    loaded->SetRegSection(QStringLiteral("Memo"));
    loaded->SetRegKeyword(QStringLiteral("Log"));
    QFont bold = loaded->font();
    bold.setBold(true);
    loaded->setFont(bold);
    LoadRegControls(&other, BaseKeyPath());

    EXPECT_EQ(loaded->font().family(), font.family());
    EXPECT_EQ(loaded->font().pointSize(), 13);
    EXPECT_TRUE(loaded->font().italic());
    EXPECT_TRUE(loaded->font().strikeOut());
    EXPECT_FALSE(loaded->font().underline());
    EXPECT_TRUE(loaded->font().bold()) << "a stored false never removes a style";
    EXPECT_EQ(loaded->palette().color(QPalette::Base), QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(loaded->palette().color(QPalette::Text), QColor(0xAA, 0xBB, 0xCC));
    EXPECT_TRUE(loaded->toPlainText().isEmpty());
}

// ---- the whole-window walk --------------------------------------------------------------

TEST_F(RegControlsTest, WalkFollowsCreationOrderNotChildOrder)
{
    auto *first = Persisted<TRegEdit>("First");
    auto *second = Persisted<TRegCheckBox>("Second");
    auto *third = Persisted<TRegEdit>("Third");
    // Reparenting moves the first control to the end of the children and into a container
    // made after all three.
    auto *page = new QWidget(&window);
    first->setParent(page);
    third->setParent(page);
    second->setParent(page);
    SaveRegControls(&window, BaseKeyPath());
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), KeyPath(kSection)),
              QStringList({"First", "Second", "Third"}));
    EXPECT_EQ(PersistedControls(&window), QList<TRegControl *>({first, second, third}));
}

TEST_F(RegControlsTest, SaveSkipsControlsWithoutBothNames)
{
    Persisted<TRegEdit>("NoSection", QString())->setText(QStringLiteral("x"));
    Persisted<TRegEdit>("", kSection)->setText(QStringLiteral("y"));
    auto *list = Persisted<TRegListView>("", store::WWWSites);
    ConfigureFileList(list);
    list->AddRow()->SetCaption(QStringLiteral("row"));
    Persisted<TRegEdit>("Named")->setText(QStringLiteral("z"));
    SaveRegControls(&window, BaseKeyPath());

    QStringList expected = DumpStore(store.FilePath());
    EXPECT_TRUE(expected.contains(QStringLiteral("\\Software\\Varnholt\\Quelmark\\General Options|Named|1|z")));
    EXPECT_EQ(expected.filter(QStringLiteral("|")).size(), 1) << expected.join(QLatin1Char('\n')).toStdString();
}

TEST_F(RegControlsTest, LoadOfSimpleKindsUsesEmptyNamesButTheListNeedsBoth)
{
    // An empty section is the base key itself and an empty name its unnamed value.
    TRegIniFile(BaseKeyPath()).WriteString(QString(), QStringLiteral("unnamed"));
    auto *bare = Persisted<TRegEdit>("", QString());
    auto *list = Persisted<TRegListView>("", store::WWWSites);
    ConfigureFileList(list);
    list->AddRow()->SetCaption(QStringLiteral("kept"));
    LoadRegControls(&window, BaseKeyPath());
    EXPECT_EQ(bare->text(), QStringLiteral("unnamed"));
    ASSERT_EQ(list->RowCount(), 1);
    EXPECT_EQ(list->Row(0)->Caption(), QStringLiteral("kept"));
}

TEST_F(RegControlsTest, WrongKindStopsTheLoadAtThatControl)
{
    auto *before = Persisted<TRegEdit>("Before");
    auto *spin = Persisted<TRegSpinEdit>("MinsTestFiles");
    auto *after = Persisted<TRegEdit>("After");
    spin->SetRange(1, 7200);
    spin->SetValue(10);
    Put(kSection, QStringLiteral("Before"), QStringLiteral("loaded"));
    Put(kSection, QStringLiteral("MinsTestFiles"), QStringLiteral("30"));
    Put(kSection, QStringLiteral("After"), QStringLiteral("never read"));
    test::SetValueKind(store.FilePath(), KeyPath(kSection), QStringLiteral("MinsTestFiles"), 4);

    EXPECT_EQ(test::MessageOf<ERegistryException>([&] { LoadRegControls(&window, BaseKeyPath()); }),
              QStringLiteral("Invalid data type for 'MinsTestFiles'"));
    EXPECT_EQ(before->text(), QStringLiteral("loaded"));
    EXPECT_EQ(spin->Value(), 10);
    EXPECT_TRUE(after->text().isEmpty());
}

TEST_F(RegControlsTest, FailedSaveLeavesTheStoreExactlyAsBefore)
{
    Put(kSection, QStringLiteral("First"), QStringLiteral("old first"));
    Put(kSection, QStringLiteral("Poison"), QStringLiteral("old poison"));
    Put(QStringLiteral("Other\\Deep"), QStringLiteral("Third"), QStringLiteral("old third"));
    Persisted<TRegEdit>("First")->setText(QStringLiteral("new first"));
    Persisted<TRegEdit>("NewValue")->setText(QStringLiteral("new"));
    Persisted<TRegEdit>("Poison")->setText(QStringLiteral("new poison"));
    Persisted<TRegEdit>("Third", QStringLiteral("Other\\Deep"))->setText(QStringLiteral("new third"));
    Persisted<TRegEdit>("Fresh", QStringLiteral("Brand\\New"))->setText(QStringLiteral("new"));
    CloseStore();
    test::PoisonValueName(store.FilePath(), QStringLiteral("Poison"));
    const QStringList before = DumpStore(store.FilePath());

    EXPECT_THROW(SaveRegControls(&window, BaseKeyPath()), ERegistryException);
    EXPECT_EQ(DumpStore(store.FilePath()), before);

    // The store stays usable after the rollback.
    Put(kSection, QStringLiteral("Later"), QStringLiteral("ok"));
    EXPECT_EQ(Get(kSection, QStringLiteral("Later")), QStringLiteral("ok"));
}

// ---- the list view's subtree ------------------------------------------------------------

class RegListViewTest : public RegControlsTest {
protected:
    void SetUp() override
    {
        RegControlsTest::SetUp();
        list = Persisted<TRegListView>("site", store::WWWSites);
        ConfigureFileList(list);
    }

    QString SiteKey() const { return KeyPath(store::SiteSection(QStringLiteral("site"))); }
    QString ItemKey(int i) const { return KeyPath(Item(i)); }
    // The section of row i of the site, relative to the base key.
    static QString Item(int i) { return store::SiteSection(QStringLiteral("site")) + '\\' + store::ItemSection(i); }

    void PutItem(const QString &item, const QString &name, const QString &value)
    {
        Put(store::SiteSection(QStringLiteral("site")) + '\\' + item, name, value);
    }

    // The value names of a stored row holding n column texts, in the order they are written.
    static QStringList RowValueNames(int n)
    {
        QStringList names = {store::Caption, store::Checked, store::ImageIndex, store::StateIndex};
        for (int k = 0; k < n; ++k)
            names.append(store::SublineName(k));
        return names;
    }

    TRegListView *list = nullptr;
};

TEST_F(RegListViewTest, RowWithThreeSublinesGetsFiveEmptyOnesAndDefaultsFillTheMarks)
{
    PutItem(store::ItemSection(0), store::Caption, QStringLiteral("/home/u/index.html"));
    for (int k = 0; k < 3; ++k)
        PutItem(store::ItemSection(0), store::SublineName(k), QStringLiteral("t%1").arg(k));
    LoadRegControls(&window, BaseKeyPath());

    ASSERT_EQ(list->RowCount(), 1);
    const TListRow *row = list->Row(0);
    EXPECT_EQ(row->Caption(), QStringLiteral("/home/u/index.html"));
    EXPECT_EQ(row->SubItems(), QStringList({"t0", "t1", "t2", "", "", "", "", ""}));
    EXPECT_FALSE(row->Checked());
    EXPECT_EQ(row->ImageIndex(), 0);
    EXPECT_EQ(row->StateIndex(), -1);
}

TEST_F(RegListViewTest, GapInSublinesEndsTheRowAndTheOrphanIsDroppedAtNextSave)
{
    PutItem(store::ItemSection(0), store::Caption, QStringLiteral("a"));
    PutItem(store::ItemSection(0), store::SublineName(0), QStringLiteral("s0"));
    PutItem(store::ItemSection(0), store::SublineName(1), QStringLiteral("s1"));
    PutItem(store::ItemSection(0), store::SublineName(3), QStringLiteral("s3"));
    LoadRegControls(&window, BaseKeyPath());
    ASSERT_EQ(list->RowCount(), 1);
    EXPECT_EQ(list->Row(0)->SubItems(), QStringList({"s0", "s1", "", "", "", "", "", ""}));

    SaveRegControls(&window, BaseKeyPath());
    EXPECT_EQ(Get(Item(0), store::SublineName(3)), QString());
    EXPECT_EQ(Get(Item(0), store::SublineName(2)), QString());
    EXPECT_EQ(Get(Item(0), store::SublineName(1)), QStringLiteral("s1"));
}

TEST_F(RegListViewTest, RowWithoutCaptionOrSublinesLoadsAsUnknownWithNoColumnTexts)
{
    PutItem(store::ItemSection(0), store::Checked, QStringLiteral("1"));
    PutItem(store::ItemSection(0), store::ImageIndex, QStringLiteral("3"));
    PutItem(store::ItemSection(0), store::StateIndex, QStringLiteral("2"));
    LoadRegControls(&window, BaseKeyPath());
    ASSERT_EQ(list->RowCount(), 1);
    const TListRow *row = list->Row(0);
    EXPECT_EQ(row->Caption(), QStringLiteral("Unknown"));
    EXPECT_TRUE(row->SubItems().isEmpty());
    EXPECT_EQ(row->SubItem(3), QString()) << "a missing column text reads as empty";
    EXPECT_TRUE(row->Checked());
    EXPECT_EQ(row->ImageIndex(), 3);
    EXPECT_EQ(row->StateIndex(), 2);
}

TEST_F(RegListViewTest, RowsComeBackInTheirIndexOrderAndKeysOfOtherNamesAfterThem)
{
    const QStringList names = {QStringLiteral("Zebra"), store::ItemSection(10), store::ItemPrefix,
                               store::ItemSection(2), store::ItemSection(0)};
    for (const QString &name : names)
        PutItem(name, store::Caption, name);
    LoadRegControls(&window, BaseKeyPath());
    QStringList captions;
    for (int i = 0; i < list->RowCount(); ++i)
        captions.append(list->Row(i)->Caption());
    EXPECT_EQ(captions, QStringList({store::ItemSection(0), store::ItemSection(2), store::ItemSection(10),
                                     store::ItemPrefix, "Zebra"}));

    // Twelve rows saved come back in their order, though the store lists Item#10 first.
    list->ClearRows();
    for (int i = 0; i < 12; ++i)
        list->AddRow()->SetCaption(QStringLiteral("file%1").arg(i));
    SaveRegControls(&window, BaseKeyPath());
    LoadRegControls(&window, BaseKeyPath());
    ASSERT_EQ(list->RowCount(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(list->Row(i)->Caption(), QStringLiteral("file%1").arg(i));
}

TEST_F(RegListViewTest, SaveNumbersRowsAfreshAndRemovesForeignContent)
{
    for (int i = 0; i < 4; ++i) {
        TListRow *row = list->AddRow();
        row->SetCaption(QStringLiteral("file%1").arg(i));
        row->SetSubItems({QStringLiteral("/h%1").arg(i), QStringLiteral("Ascii")});
    }
    SaveRegControls(&window, BaseKeyPath());
    Put(store::SiteSection(QStringLiteral("site")), QStringLiteral("Foreign"), QStringLiteral("x"));
    PutItem(QStringLiteral("Extra"), store::Caption, QStringLiteral("x"));

    list->RemoveRow(list->Row(1));
    list->RemoveRow(list->Row(0));
    SaveRegControls(&window, BaseKeyPath());

    EXPECT_EQ(test::SubkeyNames(store.FilePath(), SiteKey()),
              QStringList({store::ItemSection(0), store::ItemSection(1)}));
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), SiteKey()), QStringList());
    EXPECT_EQ(Get(Item(0), store::Caption), QStringLiteral("file2"));
    EXPECT_EQ(Get(Item(1), store::Caption), QStringLiteral("file3"));
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), ItemKey(1)), RowValueNames(2));
}

TEST_F(RegListViewTest, SaveLoadSaveHoldsEightSublinesTheLastEmpty)
{
    TListRow *row = list->AddRow();
    row->SetCaption(QStringLiteral("/home/u/page.html"));
    row->SetSubItems({"/www/page.html", "Ascii", "%IP%", "New", "1/2/24 10:00:00", "1234", "R"});
    row->SetChecked(true);
    row->SetImageIndex(4);
    row->SetStateIndex(7);
    SaveRegControls(&window, BaseKeyPath());
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), ItemKey(0)).size(), 4 + 7);

    LoadRegControls(&window, BaseKeyPath());
    SaveRegControls(&window, BaseKeyPath());

    const QStringList names = test::ValueNamesInWriteOrder(store.FilePath(), ItemKey(0));
    EXPECT_EQ(names, RowValueNames(8));
    EXPECT_EQ(Get(Item(0), store::SublineName(7)), QString());
    EXPECT_EQ(Get(Item(0), store::SublineName(6)), QStringLiteral("R"));
    EXPECT_EQ(Get(Item(0), store::Checked), QStringLiteral("1"));
    ASSERT_EQ(list->RowCount(), 1);
    EXPECT_EQ(list->Row(0)->ImageIndex(), 4);
    EXPECT_EQ(list->Row(0)->StateIndex(), 7);
}

TEST_F(RegListViewTest, LoadingAMissingSiteCreatesItsEmptyKey)
{
    list->AddRow()->SetCaption(QStringLiteral("from the site shown before"));
    LoadRegControls(&window, BaseKeyPath());
    EXPECT_EQ(list->RowCount(), 0);
    EXPECT_TRUE(DumpStore(store.FilePath()).contains(SiteKey()));
}

TEST_F(RegListViewTest, SetSubItemPadsShortRows)
{
    TListRow *row = list->AddRow();
    row->SetSubItem(3, QStringLiteral("Moved"));
    EXPECT_EQ(row->SubItems(), QStringList({"", "", "", "Moved"}));
    EXPECT_EQ(row->text(4), QStringLiteral("Moved"));
    row->SetSubItems({QStringLiteral("only")});
    EXPECT_EQ(row->text(4), QString()) << "shortening the row clears the cells it no longer holds";
}

// ---- toolbar layout ---------------------------------------------------------------------

class ToolbarLayoutTest : public RegControlsTest {
protected:
    QToolBar *Bar(QMainWindow &mw, const char *name, Qt::ToolBarArea area)
    {
        auto *bar = new QToolBar(QString::fromLatin1(name), &mw);
        bar->setObjectName(QString::fromLatin1(name));
        bar->addAction(QStringLiteral("act"));
        mw.addToolBar(area, bar);
        return bar;
    }

    QString Tb(const char *bar, const QString &name) { return Get(QString::fromLatin1(bar), name); }
};

TEST_F(ToolbarLayoutTest, SavesDockAndVisibilityAndFixedDocksKeepOnlyVisibility)
{
    QMainWindow mw;
    Bar(mw, "tbGeneralInfo", Qt::TopToolBarArea);
    Bar(mw, "tbLeft", Qt::LeftToolBarArea);
    Bar(mw, "tbHidden", Qt::BottomToolBarArea)->hide();
    auto *panel = new QWidget(&mw);
    panel->setObjectName(QStringLiteral("dockFiles"));
    auto *fixed = new QToolBar(panel);
    fixed->setObjectName(QStringLiteral("tbFilesToolbar"));
    mw.setCentralWidget(panel);
    mw.show();
    SaveToolbarLayout(&mw, BaseKeyPath());

    EXPECT_EQ(Tb("tbGeneralInfo", store::Visible), QStringLiteral("1"));
    EXPECT_EQ(Tb("tbGeneralInfo", store::DockedTo), QStringLiteral("dockTop"));
    EXPECT_EQ(Tb("tbGeneralInfo", store::DockRow), QStringLiteral("0"));
    EXPECT_EQ(Tb("tbLeft", store::DockedTo), QStringLiteral("dockLeft"));
    EXPECT_EQ(Tb("tbHidden", store::Visible), QStringLiteral("0"));
    EXPECT_EQ(Tb("tbHidden", store::DockedTo), QStringLiteral("dockBottom"));
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), KeyPath(QStringLiteral("tbGeneralInfo"))),
              QStringList({store::Visible, store::DockedTo, store::DockRow, store::DockPos, store::FloatLeft,
                           store::FloatTop, store::FloatRight, store::FloatBottom, store::FloatRightX}));
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), KeyPath(QStringLiteral("tbFilesToolbar"))),
              QStringList({store::Visible}));
}

TEST_F(ToolbarLayoutTest, LoadRestoresDocksRowsVisibilityAndFloating)
{
    QMainWindow saved;
    auto *a = Bar(saved, "tbA", Qt::TopToolBarArea);
    saved.addToolBarBreak(Qt::TopToolBarArea);
    Bar(saved, "tbB", Qt::TopToolBarArea);
    Bar(saved, "tbC", Qt::RightToolBarArea)->hide();
    saved.show();
    SaveToolbarLayout(&saved, BaseKeyPath());
    EXPECT_EQ(Tb("tbB", store::DockRow), QStringLiteral("1"));
    (void)a;

    Put(QStringLiteral("tbD"), store::DockedTo, store::Floating);
    Put(QStringLiteral("tbD"), store::FloatLeft, QStringLiteral("40"));
    Put(QStringLiteral("tbD"), store::FloatTop, QStringLiteral("50"));
    Put(QStringLiteral("tbD"), store::FloatRight, QStringLiteral("240"));
    Put(QStringLiteral("tbD"), store::FloatBottom, QStringLiteral("80"));
    Put(QStringLiteral("tbE"), store::DockedTo, QStringLiteral("dockGone"));

    QMainWindow loaded;
    auto *la = Bar(loaded, "tbA", Qt::LeftToolBarArea);
    auto *lb = Bar(loaded, "tbB", Qt::LeftToolBarArea);
    auto *lc = Bar(loaded, "tbC", Qt::TopToolBarArea);
    auto *ld = Bar(loaded, "tbD", Qt::TopToolBarArea);
    auto *le = Bar(loaded, "tbE", Qt::BottomToolBarArea);
    LoadToolbarLayout(&loaded, BaseKeyPath());
    loaded.show();

    EXPECT_EQ(loaded.toolBarArea(la), Qt::TopToolBarArea);
    EXPECT_EQ(loaded.toolBarArea(lb), Qt::TopToolBarArea);
    EXPECT_TRUE(loaded.toolBarBreak(lb)) << "tbB starts the second line";
    EXPECT_EQ(loaded.toolBarArea(lc), Qt::RightToolBarArea);
    EXPECT_TRUE(lc->isHidden());
    EXPECT_TRUE(ld->isFloating());
    EXPECT_EQ(ld->geometry(), QRect(40, 50, 200, 30));
    EXPECT_EQ(loaded.toolBarArea(le), Qt::BottomToolBarArea) << "an unknown dock leaves the toolbar in place";

    // A floating toolbar is stored as such.
    SaveToolbarLayout(&loaded, BaseKeyPath());
    EXPECT_EQ(Tb("tbD", store::DockedTo), store::Floating);
    EXPECT_EQ(Tb("tbD", store::FloatRight), QStringLiteral("240"));
}

TEST_F(ToolbarLayoutTest, UnnamedToolbarOrDockFailsAndStoresNothing)
{
    {
        QMainWindow mw;
        Bar(mw, "tbNamed", Qt::TopToolBarArea);
        Bar(mw, "", Qt::TopToolBarArea);
        const QStringList before = DumpStore(store.FilePath());
        EXPECT_EQ(test::MessageOf<Exception>([&] { SaveToolbarLayout(&mw, BaseKeyPath()); }),
                  QStringLiteral("Name property not set"));
        EXPECT_EQ(DumpStore(store.FilePath()), before);
    }
    {
        QMainWindow mw;
        Bar(mw, "tbNamed", Qt::TopToolBarArea);
        auto *panel = new QWidget(&mw);
        auto *fixed = new QToolBar(panel);
        fixed->setObjectName(QStringLiteral("tbInPanel"));
        EXPECT_EQ(test::MessageOf<Exception>([&] { SaveToolbarLayout(&mw, BaseKeyPath()); }),
                  QStringLiteral("DockTo's Name property not set"));
    }
}

} // namespace
