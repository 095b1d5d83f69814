#include "app/Tray.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "catalogue/Icons.h"
#include "catalogue/MessageBox.h"

#include <QAction>
#include <QLocale>
#include <QMenu>
#include <QSystemTrayIcon>

namespace quelmark {

namespace {

std::optional<bool> &AvailableOverride()
{
    static std::optional<bool> available;
    return available;
}

QString CheckLine(const std::optional<TCheckReport> &lastCheck)
{
    if (!lastCheck)
        return QStringLiteral("No check yet");
    return QStringLiteral("Last check: %1, %2")
        .arg(QLocale::system().toString(lastCheck->time, QLocale::ShortFormat), PrintableText(lastCheck->result));
}

} // namespace

QString TrayToolTip(bool running, const QString &address, const std::optional<TCheckReport> &lastCheck)
{
    return QStringList{TMessageBox::Title(),
                       running ? QStringLiteral("Timer running") : QStringLiteral("Timer stopped"),
                       QStringLiteral("Address: ") + PrintableText(address), CheckLine(lastCheck)}
        .join(QLatin1Char('\n'));
}

bool TTray::Available()
{
    return AvailableOverride().value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TTray::SetAvailableForTests(std::optional<bool> available)
{
    AvailableOverride() = available;
}

TTray::TTray(const TTrayCommands &commands, QObject *parent) : QObject(parent)
{
    if (!Available())
        return;
    m_menu = CreateMenu(commands);
    m_icon = new QSystemTrayIcon(Picture(TPicture::Program), this);
    m_icon->setObjectName(QStringLiteral("trayIcon"));
    m_icon->setContextMenu(m_menu);
    // A click on the icon itself brings the window back, as its first menu item does.
    connect(m_icon, &QSystemTrayIcon::activated, this, [show = commands.show](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger && show)
            Guarded(show);
    });
    m_icon->show();
}

TTray::~TTray()
{
    // The icon does not own its menu.
    delete m_menu;
}

QMenu *TTray::CreateMenu(const TTrayCommands &commands)
{
    auto *menu = new QMenu;
    menu->setObjectName(QStringLiteral("popTray"));
    const auto add = [this, menu](const char *name, const char *text, const std::function<void()> &handler) {
        QAction *action = menu->addAction(QString::fromLatin1(text));
        action->setObjectName(QString::fromLatin1(name));
        if (handler)
            connect(action, &QAction::triggered, this, GuardedHandler(handler));
    };
    add("mniTrayShow", "&Show", commands.show);
    add("mniTrayStartStop", "&Start/Stop Timer", commands.startStop);
    add("mniTrayPushAll", "Push &All", commands.pushAll);
    menu->addSeparator();
    add("mniTrayExit", "E&xit", commands.exit);
    return menu;
}

void TTray::ShowState(bool running, const QString &address, const std::optional<TCheckReport> &lastCheck)
{
    if (m_icon)
        m_icon->setToolTip(TrayToolTip(running, address, lastCheck));
}

void TTray::Notify(const QString &text)
{
    if (!m_icon)
        return;
    const QString shown = PrintableLines(text);
    if (TestMode()) {
        Record({TMessageBox::Title(), shown});
        return;
    }
    m_icon->showMessage(TMessageBox::Title(), shown, QSystemTrayIcon::Warning);
}

TTrayFollower::TTrayFollower(std::function<void()> update, std::function<void(const QString &)> notify)
    : m_update(std::move(update)), m_notify(std::move(notify))
{
}

void TTrayFollower::TimerChanged(bool)
{
    m_update();
}

void TTrayFollower::Hold(THold hold, bool on)
{
    // A check's push-all starts afresh: what a push of the user's did before is the state the
    // check is measured against.
    if (hold == THold::PushAll && on) {
        m_touched.clear();
        m_order.clear();
    }
}

void TTrayFollower::FileDone(const TFileResult &result)
{
    const std::optional<TSiteOutcome> before = m_results.Site(result.site);
    const QDateTime now = QDateTime::currentDateTime();
    if (!m_touched.contains(result.site)) {
        m_touched.insert(result.site, {before && before->Failing(), now});
        m_order.append(result.site);
    }
    m_results.Record(result, now);
}

QStringList TTrayFollower::Changes(const TCheckReport &report)
{
    QStringList lines;
    bool pushed = false;
    for (const QString &site : m_order) {
        const TTouched touched = m_touched.value(site);
        // Pushes of the user's before the check began are no news.
        if (touched.time < report.time)
            continue;
        pushed = true;
        const std::optional<TSiteOutcome> now = m_results.Site(site);
        if (!now || now->Failing() == touched.failedBefore)
            continue;
        if (now->Failing())
            lines.append(PrintableText(PushFailedText(now->failures.first().result)));
        else
            lines.append(
                PrintableText(QStringLiteral("Push of %1 to %2 works again").arg(now->last.result.localFile, site)));
    }
    // An address that could not be found, or a check that pushed nothing at all and failed: the
    // failure is the program's, not a site's.
    const QString checkFailure = !report.addressFailure.isEmpty() ? report.addressFailure
                                 : pushed                         ? QString()
                                                                  : report.failure;
    const bool checkFailed = !checkFailure.isEmpty();
    if (checkFailed && !m_checkFailed)
        lines.append(PrintableText(checkFailure));
    else if (!checkFailed && m_checkFailed)
        lines.append(QStringLiteral("Checks work again: ") + PrintableText(report.result));
    m_checkFailed = checkFailed;
    m_touched.clear();
    m_order.clear();
    return lines;
}

void TTrayFollower::CheckDone(const TCheckReport &report)
{
    m_update();
    if (const QStringList lines = Changes(report); !lines.isEmpty())
        m_notify(lines.join(QLatin1Char('\n')));
}

} // namespace quelmark
