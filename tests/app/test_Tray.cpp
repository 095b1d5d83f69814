// The tray icon on the real main window: without a tray (as on the offscreen platform) nothing
// changes; with one (as a test may say there is) through the icon's own tooltip and menu and the
// notifications it records in test mode.
#include "app/F_Main.h"
#include "app/Tray.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "engine/RefreshCycle.h"
#include "tests/support/WindowTest.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <memory>

using namespace quelmark;

namespace {

TEST(TrayToolTip, TellsTheTimerTheAddressAndTheLastCheckOnePerLine)
{
    const TCheckReport check{QDateTime(QDate(2024, 3, 5), QTime(9, 41)), QStringLiteral("2 files pushed"), QString(),
                             QString()};
    const QString when = QLocale::system().toString(check.time, QLocale::ShortFormat);
    const struct {
        bool running;
        std::optional<TCheckReport> last;
        QStringList lines;
    } cases[] = {
        {false, std::nullopt, {"Varnholt Quelmark", "Timer stopped", "Address: 10.1.2.3", "No check yet"}},
        {true,
         check,
         {"Varnholt Quelmark", "Timer running", "Address: 10.1.2.3", "Last check: " + when + ", 2 files pushed"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TrayToolTip(c.running, QStringLiteral("10.1.2.3"), c.last).split(QLatin1Char('\n')), c.lines);
}

class TrayTest : public test::WindowTest {
protected:
    // Closes the window as its title bar's button does; returns whether the close went through.
    bool CloseFromTheDesktop()
    {
        QCloseEvent close;
        // Straight to notify, as QTest sends its input: sendEvent would take the mark off again.
        QSpontaneKeyEvent::setSpontaneous(&close);
        QApplication::instance()->notify(window.get(), &close);
        return close.isAccepted();
    }

    // An item of the tray icon's menu, by name.
    QAction *TrayItem(const char *name)
    {
        QSystemTrayIcon *icon = window->Tray().Icon();
        QAction *item = icon && icon->contextMenu()
                            ? icon->contextMenu()->findChild<QAction *>(QString::fromLatin1(name))
                            : nullptr;
        EXPECT_NE(item, nullptr) << name;
        return item;
    }

    QString StoredWindowWidth() const
    {
        return TRegIniFile(BaseKeyPath()).ReadText(store::Window, store::Width, QStringLiteral("none"));
    }

    // Stores a site whose only page cannot be read, so a check finds one failed file.
    QString StoreSiteWithAMissingPage()
    {
        const QString missing = folder.filePath(QStringLiteral("missing.html"));
        test::StoreSite(QStringLiteral("site.example.org"), {}, {missing});
        return missing;
    }
};

TEST_F(TrayTest, WithoutATrayThereIsNoIconAndClosingClosesAsBefore)
{
    // The offscreen platform's own answer, as the program meets it there.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this platform offers a tray";
    TRegIniFile(BaseKeyPath()).WriteText(store::GeneralOptions, store::CloseToTray, QStringLiteral("1"));
    Open();
    EXPECT_EQ(window->Tray().Icon(), nullptr);
    EXPECT_TRUE(window->findChildren<QSystemTrayIcon *>().isEmpty());
    auto *option = Find<TRegCheckBox>("chkCloseToTray");
    EXPECT_TRUE(option->isChecked()) << "kept for a desktop that has a tray";
    EXPECT_FALSE(option->isEnabled());

    window->RefreshCycle().btnStartStopClick();
    window->Tray().Notify(QStringLiteral("nobody sees this"));
    EXPECT_TRUE(TTray::Shown().isEmpty());
    EXPECT_TRUE(CloseFromTheDesktop()) << "the window closes, whatever the option says";
    EXPECT_NE(StoredWindowWidth(), QStringLiteral("none")) << "and saves as a close does";
}

TEST_F(TrayTest, TheIconTellsTheStateOffersItsMenuAndNotifiesAFailedCheck)
{
    TTray::SetAvailableForTests(true);
    const QString missing = StoreSiteWithAMissingPage();
    Open();
    QSystemTrayIcon *icon = window->Tray().Icon();
    ASSERT_NE(icon, nullptr);
    const QString address = Find<QLineEdit>("edtLocalAddress")->text();
    EXPECT_EQ(icon->toolTip().split('\n'),
              QStringList({"Varnholt Quelmark", "Timer stopped", "Address: " + address, "No check yet"}));
    ASSERT_NE(icon->contextMenu(), nullptr);
    QStringList items;
    for (const QAction *action : icon->contextMenu()->actions())
        items.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(items, QStringList({"&Show", "&Start/Stop Timer", "Push &All", "-", "E&xit"}));

    TrayItem("mniTrayStartStop")->trigger();
    EXPECT_TRUE(window->RefreshCycle().tmrRefresh->isActive());
    EXPECT_EQ(icon->toolTip().split('\n').value(1), QStringLiteral("Timer running"));

    // A check of the timer's own: the page cannot be read.
    Find<TRegSpinEdit>("spnTestFilesMinutes")->SetValue(1);
    window->RefreshCycle().RunTick();
    const QString reason =
        QStringLiteral("Cannot open file ") + missing + QStringLiteral(": No such file or directory");
    ASSERT_EQ(TTray::Shown().size(), 1);
    EXPECT_EQ(TTray::Shown()[0].title, QStringLiteral("Varnholt Quelmark"));
    EXPECT_EQ(TTray::Shown()[0].text, QStringLiteral("Push of %1 to site.example.org failed: %2").arg(missing, reason));
    EXPECT_TRUE(icon->toolTip().endsWith(QStringLiteral(", 1 of 1 files failed"))) << icon->toolTip().toStdString();
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());

    TrayItem("mniTrayPushAll")->trigger();
    EXPECT_EQ(TTray::Shown().size(), 1) << "a push the user started notifies nothing";
}

TEST_F(TrayTest, CloseToTrayHidesTheWindowWhileTheTimerRunsAndExitEndsTheProgram)
{
    TTray::SetAvailableForTests(true);
    Open();
    Find<TRegCheckBox>("chkCloseToTray")->setChecked(true);
    ASSERT_TRUE(Find<TRegCheckBox>("chkCloseToTray")->isEnabled());

    // The timer stopped: the window closes.
    EXPECT_TRUE(CloseFromTheDesktop());
    window->show();

    window->RefreshCycle().btnStartStopClick();
    TRegIniFile(BaseKeyPath()).DeleteSection(store::Window);
    EXPECT_FALSE(CloseFromTheDesktop());
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->RefreshCycle().tmrRefresh->isActive()) << "the work goes on";
    EXPECT_EQ(StoredWindowWidth(), QStringLiteral("none")) << "hidden, not closed";

    TrayItem("mniTrayShow")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(CloseFromTheDesktop());
    TrayItem("mniTrayExit")->trigger();
    EXPECT_NE(StoredWindowWidth(), QStringLiteral("none")) << "Exit closes for good, and saves";
}

} // namespace
