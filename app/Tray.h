// TTray: the program's icon in the desktop's system tray, for a program that mostly runs
// unattended.
//
// While the desktop offers a tray, the icon's tooltip tells how the work goes (the timer's
// state, the machine's address, the time and result of the last check), its menu offers Show,
// Start/Stop, Push All and Exit, and a notification tells when a check finds a site failing that
// was not, or pushing again after it failed (TTrayFollower). Without a tray there is no icon, and
// nothing else changes. Tests switch on the test mode: notifications
// are then recorded instead of shown.
#pragma once

#include "catalogue/TestHook.h"
#include "engine/PushResults.h"
#include "engine/RefreshCycle.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace quelmark {

// What the icon's menu runs, in its order.
struct TTrayCommands {
    std::function<void()> show;
    std::function<void()> startStop;
    std::function<void()> pushAll;
    std::function<void()> exit;
};

// One notification as the test mode recorded it.
struct TTrayMessage {
    QString title;
    QString text;
};

// Returns the icon's tooltip: the program's name, the timer's state, the address and the last
// check's time and result (or that none ran yet), one per line.
QString TrayToolTip(bool running, const QString &address, const std::optional<TCheckReport> &lastCheck);

class TTray : public QObject, public TTestHook<bool, TTrayMessage> {
    Q_OBJECT
public:
    // Tells whether the desktop offers a tray; a test may decide it instead.
    static bool Available();
    static void SetAvailableForTests(std::optional<bool> available);

    // Makes and shows the icon with its menu when a tray is available; otherwise makes nothing.
    explicit TTray(const TTrayCommands &commands, QObject *parent = nullptr);
    ~TTray() override;
    Q_DISABLE_COPY(TTray)

    // The icon; null without a tray.
    QSystemTrayIcon *Icon() const { return m_icon; }
    // Puts the state into the tooltip.
    void ShowState(bool running, const QString &address, const std::optional<TCheckReport> &lastCheck);
    // Shows a warning notification with the text, its control characters shown as PrintableLines
    // shows them; nothing without a tray.
    void Notify(const QString &text);

private:
    QMenu *CreateMenu(const TTrayCommands &commands);

    QSystemTrayIcon *m_icon = nullptr;
    QMenu *m_menu = nullptr;
};

// Keeps the tray's tooltip with the timer and the checks, and tells at the end of a check what
// changed in it: each site that began to fail (naming the file and why) and each that pushes
// again, and a check that could not push at all (not connected, stopped by an error) or that can
// again. A check that fails as the one before did tells nothing; pushes the user started change
// the sites' states, quietly.
class TTrayFollower : public TEngineObserver {
public:
    TTrayFollower(std::function<void()> update, std::function<void(const QString &)> notify);

    void Hold(THold hold, bool on) override;
    void TimerChanged(bool running) override;
    void FileDone(const TFileResult &result) override;
    void CheckDone(const TCheckReport &report) override;

private:
    // A site whose files were pushed since the last push-all began: whether it failed before
    // the first of them, and when that was.
    struct TTouched {
        bool failedBefore = false;
        QDateTime time;
    };

    QStringList Changes(const TCheckReport &report);

    std::function<void()> m_update;
    std::function<void(const QString &)> m_notify;
    TPushResults m_results;
    QHash<QString, TTouched> m_touched;
    QStringList m_order;
    // The last check could not push at all.
    bool m_checkFailed = false;
};

} // namespace quelmark
