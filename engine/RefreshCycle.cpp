#include "engine/RefreshCycle.h"

#include "base/Exception.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/Icons.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/PushCommands.h"
#include "net/appexec.h"

#include <QAction>
#include <QLineEdit>
#include <QPainter>
#include <QStatusBar>
#include <QToolBar>

#include <cmath>
#include <numbers>

namespace quelmark {

namespace {

constexpr int kSpinnerDots = 8;
constexpr int kFrameInterval = 100;

} // namespace

int TestFilesMinutes(const QString &text)
{
    bool ok = false;
    const int minutes = text.trimmed().toInt(&ok);
    return ok ? minutes : 1;
}

QString CheckResultText(const TPushTally &tally)
{
    if (tally.failed > 0)
        return QStringLiteral("%1 of %2 files failed").arg(tally.failed).arg(tally.pushed + tally.failed);
    if (tally.pushed == 0)
        return QStringLiteral("nothing was due");
    return tally.pushed == 1 ? QStringLiteral("1 file pushed") : QStringLiteral("%1 files pushed").arg(tally.pushed);
}

// ---- animation ----------------------------------------------------------------------------

TAnimation::TAnimation(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Animation"));
    setFixedSize(sizeHint());
    m_frames.setInterval(kFrameInterval);
    connect(&m_frames, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kSpinnerDots;
        update();
    });
    WatchAncestors();
}

void TAnimation::Play()
{
    m_playing = true;
    TurnWhenOnShow();
}

void TAnimation::Stop()
{
    m_playing = false;
    m_frame = 0;
    TurnWhenOnShow();
    update();
}

void TAnimation::TurnWhenOnShow()
{
    // isVisible() covers a hidden window, toolbar or action; a minimised window keeps its
    // widgets visible and only says so itself.
    const bool turn = m_playing && isVisible() && !window()->isMinimized();
    if (turn == m_frames.isActive())
        return;
    if (turn)
        m_frames.start();
    else
        m_frames.stop();
}

void TAnimation::WatchAncestors()
{
    for (const QPointer<QWidget> &ancestor : std::as_const(m_ancestors))
        if (ancestor)
            ancestor->removeEventFilter(this);
    m_ancestors.clear();
    // Up to the window: a toolbar torn off into a window of its own is one, the main window
    // then no longer.
    for (QWidget *ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        ancestor->installEventFilter(this);
        m_ancestors.append(ancestor);
        if (ancestor->isWindow())
            break;
    }
}

bool TAnimation::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::ParentChange:
        WatchAncestors();
        TurnWhenOnShow();
        break;
    // Showing and hiding any ancestor reaches this widget too.
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WindowStateChange:
        TurnWhenOnShow();
        break;
    default:
        break;
    }
    return handled;
}

bool TAnimation::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        WatchAncestors();
        TurnWhenOnShow();
        break;
    case QEvent::WindowStateChange:
        TurnWhenOnShow();
        break;
    default:
        break;
    }
    return false;
}

void TAnimation::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const QColor base = palette().color(QPalette::WindowText);
    for (int i = 0; i < kSpinnerDots; ++i) {
        // The dot at the current frame is darkest; the ones behind it fade.
        const int age = (m_frame - i + kSpinnerDots) % kSpinnerDots;
        QColor dot = base;
        dot.setAlphaF(1.0 - 0.11 * age);
        const double angle = 2.0 * std::numbers::pi * i / kSpinnerDots;
        painter.setPen(Qt::NoPen);
        painter.setBrush(dot);
        painter.drawEllipse(QPointF(7.0 * std::cos(angle), 7.0 * std::sin(angle)), 2.0, 2.0);
    }
}

// ---- refresh cycle ------------------------------------------------------------------------

TRefreshCycle::TRefreshCycle(const TEngineParts &parts, TPushCommands &push, TActivityLog &log, QObject *owner)
    : QObject(owner), m_parts(parts), m_push(push), m_log(log)
{
    tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    tmrRefresh->setInterval(DefaultInterval);
    connect(tmrRefresh, &QTimer::timeout, this, &TRefreshCycle::RunTick);

    appExec = new TAppExec(this);
    appExec->setObjectName(QStringLiteral("appExec"));
    appExec->SetChangeDir(false);
    appExec->SetWait(false);
    appExec->SetWindowState(wsNormal);

    imgStart = Picture(TPicture::Start);
    imgStop = Picture(TPicture::Stop);
    if (QAction *button = m_parts.btnStartStop) {
        button->setIcon(imgStart);
        button->setToolTip(QStringLiteral("Toggle the timer on/off"));
        connect(button, &QAction::triggered, this, [this] { Guarded([this] { btnStartStopClick(); }); });
    }
    PlaceAnimation();
}

TRefreshCycle::~TRefreshCycle()
{
    if (Animation && !Animation->parent())
        delete Animation.data();
}

void TRefreshCycle::PlaceAnimation()
{
    Animation = new TAnimation(m_parts.toolbar);
    // Last on the bar: appearing anywhere else it would push the controls after it aside.
    if (QToolBar *bar = m_parts.toolbar)
        m_animationAction = bar->addWidget(Animation);
    ShowAnimation(false);
}

void TRefreshCycle::ShowAnimation(bool show)
{
    // A widget on a toolbar is shown and hidden through its action. Without a toolbar to stand
    // on (a run without a window), showing it would make it a window of its own.
    if (m_animationAction)
        m_animationAction->setVisible(show);
    else if (Animation && Animation->parentWidget())
        Animation->setVisible(show);
}

bool TRefreshCycle::AnimationShown() const
{
    if (m_animationAction)
        return m_animationAction->isVisible();
    return Animation && !Animation->isHidden();
}

void TRefreshCycle::btnStartStopClick()
{
    const bool start = m_tag == 0;
    m_tag = start ? 1 : 0;
    if (start)
        tmrRefresh->start();
    else
        tmrRefresh->stop();
    if (m_parts.btnStartStop)
        m_parts.btnStartStop->setIcon(start ? imgStop : imgStart);
    if (Animation) {
        if (start)
            Animation->Play();
        else
            Animation->Stop();
    }
    ShowAnimation(start);
    if (OnRunningChange)
        OnRunningChange(this);
}

void TRefreshCycle::RunTick()
{
    // Errors met deep inside the check (a clean-up's second error, say) take the same way as
    // the check's own: nobody is there to click a box away, and the timer would wait for it.
    UnattendedScope unattended([this](const QString &message) { ShowUnattendedError(message); });
    try {
        tmrRefreshTimer();
    } catch (...) {
        const QString message = ExceptionMessage(std::current_exception());
        ShowUnattendedError(message);
        try {
            CheckDone(QStringLiteral("stopped by an error"), message);
        } catch (...) {
            // Whoever shows reports failed as well; the log holds the error already.
        }
    }
}

void TRefreshCycle::ShowUnattendedError(const QString &message) noexcept
{
    try {
        m_log.AddToLog(message);
        if (m_parts.statusBar)
            m_parts.statusBar->showMessage(message);
    } catch (...) {
        // The log itself failed; there is nowhere left to write, and the next tick tries again.
    }
}

void TRefreshCycle::tmrRefreshTimer()
{
    ++MinuteCount;
    // Pushes never nest, and none starts while pushes are stopped or while the user edits sites
    // or entries: a push-all reloads the file list whose rows the editing works on. Any other
    // window may stay open as long as it likes. MinuteCount stays at N or above, so the check
    // follows at the first tick after.
    if (m_push.Pushing() || m_push.Stopping() || (m_parts.checksHeld && m_parts.checksHeld()))
        return;
    if (MinuteCount < TestFilesMinutes(m_parts.options->spnTestFilesMinutes->text()))
        return;
    if (BeforeCheck)
        BeforeCheck();
    Check();
}

void TRefreshCycle::Check()
{
    m_checkStart = QDateTime::currentDateTime();
    const TAddressResult found = m_push.CheckAddress();
    // The window stays open to the user while a slow source is asked: an edit of the sites or
    // the end of the program that began meanwhile holds the push back, and the check stays due.
    if (m_push.Stopping() || (m_parts.checksHeld && m_parts.checksHeld()))
        return;
    if (found.Connected()) {
        m_push.PushAll(found.address);
        if (m_push.Stopping())
            return;
        if (m_parts.edtLocalAddress)
            m_parts.edtLocalAddress->setText(found.address);
        m_parts.options->edtLastIPAddress->setText(found.address);
        MinuteCount = 1;
        const TPushTally &tally = m_push.LastTally();
        CheckDone(CheckResultText(tally), tally.firstFailure);
        return;
    }
    // A failed check is logged with its reason; the "Local" rule's "127.0.0.1" is the machine
    // without a network, told as it always was.
    const QString failure = found.address.isEmpty() ? found.failure : QString();
    if (!failure.isEmpty())
        m_log.AddToLog(failure);
    if (m_parts.options->chkAutoReconnect->isChecked()) {
        Reconnect();
        --MinuteCount;
        CheckDone(QStringLiteral("not connected, reconnect command started"), failure);
    } else {
        m_log.AddToLog(QStringLiteral("!!!!!Not connected to the network..."));
        MinuteCount = 0;
        CheckDone(QStringLiteral("not connected"), failure);
    }
}

void TRefreshCycle::CheckDone(const QString &result, const QString &failure)
{
    m_lastCheck = TCheckReport{m_checkStart, result, failure};
    if (OnCheckDone)
        OnCheckDone(this, *m_lastCheck);
}

void TRefreshCycle::Reconnect()
{
    const QString command = m_parts.options->edtRedialCommand->text();
    m_log.AddToLog(QStringLiteral("*****Disconnected from network..."));
    m_log.AddToLog(QStringLiteral("*****Running command: ") + command);
    m_log.AddToLog(QStringLiteral("*****Waiting for one minute..."));
    appExec->SetExeName(command);
    appExec->Execute();
}

} // namespace quelmark
