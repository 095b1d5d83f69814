#include "engine/EngineView.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "catalogue/Catalogue.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/Icons.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/Engine.h"
#include "engine/F_Prgrss.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "engine/Transfer.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStatusBar>
#include <QToolBar>

#include <cmath>
#include <new>
#include <numbers>

namespace quelmark {

namespace {

constexpr int kSpinnerDots = 8;
constexpr int kFrameInterval = 100;

const QString kIdleLabel = QStringLiteral("Transfering file... ");

} // namespace

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

void TAnimation::Follow(const QEvent &event, bool own)
{
    if (event.type() == QEvent::ParentChange)
        WatchAncestors();
    // Showing and hiding any ancestor reaches this widget itself; a window says it was
    // minimised only to itself, which is why the ancestors are watched.
    const bool shown = own && (event.type() == QEvent::Show || event.type() == QEvent::Hide);
    if (shown || event.type() == QEvent::ParentChange || event.type() == QEvent::WindowStateChange)
        TurnWhenOnShow();
}

bool TAnimation::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    Follow(*event, true);
    return handled;
}

bool TAnimation::eventFilter(QObject *, QEvent *event)
{
    Follow(*event, false);
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

// ---- the log's display ----------------------------------------------------------------------

TLogDisplay::TLogDisplay(TTextArea *area, QWidget *dialogParent) : m_area(area), m_dialogParent(dialogParent) {}

void TLogDisplay::LogLine(const QString &line)
{
    if (!m_area)
        return;
    try {
        m_area->AppendLine(line);
    } catch (const std::bad_alloc &) {
        m_area->ClearLines();
        m_area->AppendLine(kLogClearedLine);
    }
}

TTextArea *TLogDisplay::Area() const
{
    return m_area;
}

void TLogDisplay::LogCleared()
{
    if (m_area)
        m_area->ClearLines();
}

void TLogDisplay::btnSaveCurrentFileClick()
{
    const QString path = TFileDialogs::GetSaveFileName(
        m_dialogParent, QStringLiteral("Save log file..."),
        {QStringLiteral("Text Files (*.TXT)"), QStringLiteral("All Files (*.*)")}, QStringLiteral("TXT"));
    if (path.isEmpty() || !m_area)
        return;
    SaveLinesToFile(m_area->Lines(), path);
}

// ---- the engine's view ----------------------------------------------------------------------

TEngineView::TEngineView(TEngine &engine, const TEngineViewParts &parts, QObject *owner)
    : QObject(owner), m_engine(engine), m_parts(parts), m_log(parts.memoLog, parts.mainWindow)
{
    imgStart = Picture(TPicture::Start);
    imgStop = Picture(TPicture::Stop);
    if (QAction *button = m_parts.btnStartStop) {
        button->setIcon(imgStart);
        button->setToolTip(QStringLiteral("Toggle the timer on/off"));
        connect(button, &QAction::triggered, this,
                [this] { Guarded([this] { m_engine.Refresh().btnStartStopClick(); }); });
    }
    PlaceAnimation();
    if (m_parts.frmProgress)
        m_parts.frmProgress->SetTransferCancelledFlag(&m_engine.Transfer().TransferCancelled);
    m_engine.AddObserver(this);
}

TEngineView::~TEngineView()
{
    m_engine.RemoveObserver(this);
    if (m_parts.frmProgress)
        m_parts.frmProgress->SetTransferCancelledFlag(nullptr);
    if (Animation && !Animation->parent())
        delete Animation.data();
}

void TEngineView::PlaceAnimation()
{
    Animation = new TAnimation(m_parts.toolbar);
    // Last on the bar: appearing anywhere else it would push the controls after it aside.
    if (QToolBar *bar = m_parts.toolbar)
        m_animationAction = bar->addWidget(Animation);
    ShowAnimation(false);
}

void TEngineView::ShowAnimation(bool show)
{
    // A widget on a toolbar is shown and hidden through its action. Without a toolbar to stand
    // on, showing it would make it a window of its own.
    if (m_animationAction)
        m_animationAction->setVisible(show);
    else if (Animation && Animation->parentWidget())
        Animation->setVisible(show);
}

bool TEngineView::AnimationShown() const
{
    if (m_animationAction)
        return m_animationAction->isVisible();
    return Animation && !Animation->isHidden();
}

void TEngineView::TimerChanged(bool running)
{
    if (m_parts.btnStartStop)
        m_parts.btnStartStop->setIcon(running ? imgStop : imgStart);
    if (Animation) {
        if (running)
            Animation->Play();
        else
            Animation->Stop();
    }
    ShowAnimation(running);
}

void TEngineView::Enable(bool enabled)
{
    if (m_parts.mainWindow)
        m_parts.mainWindow->setEnabled(enabled);
}

void TEngineView::Hold(THold hold, bool on)
{
    switch (hold) {
    case THold::AddressCheck:
        // A window that something else holds already is left to it.
        if (on) {
            const bool disable = m_parts.mainWindow && m_parts.mainWindow->isEnabled();
            m_checkHolds.append(disable);
            if (disable)
                Enable(false);
        } else if (!m_checkHolds.isEmpty() && m_checkHolds.takeLast()) {
            Enable(true);
        }
        break;
    case THold::PushAll:
        Enable(!on);
        break;
    case THold::SessionEnd:
    case THold::ConnectionTest:
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            Enable(false);
        } else {
            Enable(true);
            QApplication::restoreOverrideCursor();
        }
        break;
    }
}

void TEngineView::TransferStarted(const QString &localFile)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Enable(false);
    if (TfrmProgress *progress = m_parts.frmProgress)
        progress->Begin(kIdleLabel);
    if (m_parts.statusBar)
        m_parts.statusBar->showMessage(kTransferingPrefix + PrintableText(localFile));
}

void TEngineView::TransferProgress(const QString &localFile, std::int64_t sent, std::int64_t size)
{
    if (TfrmProgress *progress = m_parts.frmProgress)
        progress->ShowProgress(kTransferingPrefix + PrintableText(localFile), sent, size);
}

void TEngineView::TransferEnded()
{
    if (TfrmProgress *progress = m_parts.frmProgress)
        progress->End(kIdleLabel);
    ShowStandingFailure();
    Enable(true);
    QApplication::restoreOverrideCursor();
}

void TEngineView::FileDone(const TFileResult &result)
{
    m_results.Record(result, QDateTime::currentDateTime());
    ShowStandingFailure();
}

// A failure stays in sight until its file is pushed: a later file that went through must not
// wipe out the one that did not.
void TEngineView::ShowStandingFailure()
{
    QStatusBar *bar = m_parts.statusBar;
    if (!bar)
        return;
    if (const std::optional<TFileOutcome> failure = m_results.NewestFailure())
        bar->showMessage(PrintableText(PushFailedText(failure->result)));
    else
        bar->clearMessage();
}

bool TEngineView::ShowsPageLines() const
{
    return m_parts.memoLocalFile || m_parts.memoHostFile;
}

void TEngineView::PageCopied(const QStringList &page, const QStringList &copy)
{
    if (m_parts.memoLocalFile)
        m_parts.memoLocalFile->SetLines(page);
    if (m_parts.memoHostFile)
        m_parts.memoHostFile->SetLines(copy);
}

void TEngineView::AddressInUse(const QString &address)
{
    if (m_parts.edtLocalAddress)
        m_parts.edtLocalAddress->setText(address);
}

void TEngineView::Note(const QString &text)
{
    if (m_parts.statusBar)
        m_parts.statusBar->showMessage(text);
}

void TEngineView::NoteDone(const QString &text)
{
    if (m_parts.statusBar && m_parts.statusBar->currentMessage() == text)
        ShowStandingFailure();
}

std::optional<bool> TEngineView::Ask(TQuestion question, const QString &text)
{
    switch (question) {
    case TQuestion::Trust:
        // The box hangs on the progress window: the main window is disabled during a transfer,
        // and so would be a box of its own.
        return TMessageBox::Confirm(m_parts.frmProgress, text) == TBoxAnswer::Yes;
    case TQuestion::Confirm:
        return TMessageBox::ConfirmOkCancel(m_parts.mainWindow, text) == TBoxAnswer::Ok;
    case TQuestion::Inform:
        TMessageBox::Information(m_parts.mainWindow, text);
        return true;
    }
    return std::nullopt;
}

// ---- the window's sites -----------------------------------------------------------------------

TWindowSites::TWindowSites(TCatalogue &catalogue, TNavigator &navigator, TGeneralOptions &options)
    : m_catalogue(catalogue), m_navigator(navigator), m_options(options)
{
    m_catalogue.UseKeyring = [this] { return m_options.chkUseKeyring->isChecked(); };
}

TWindowSites::~TWindowSites()
{
    m_catalogue.UseKeyring = nullptr;
}

TOptions TWindowSites::Options()
{
    return m_options.Get();
}

void TWindowSites::SetLastIPAddress(const QString &address)
{
    m_options.edtLastIPAddress->setText(address);
}

QStringList TWindowSites::SiteNames()
{
    if (!m_navigator.WebSitesNode)
        return m_catalogue.ListSites();
    QStringList names;
    for (const TNavigatorNode *node : m_navigator.SiteNodes())
        names.append(node->text(0));
    return names;
}

TSiteEntries TWindowSites::ReadSite(const QString &name)
{
    if (!name.isEmpty() && name == m_catalogue.CurrentSiteName())
        return ShownSite();
    // Read on the side: the shown site and the store stay as they are.
    const TSiteRecord record = LoadSiteRecord(m_catalogue.BasePath(), name);
    TSiteEntries site{SiteInUse(record.site), {}};
    for (const TStoredRow &row : record.rows)
        site.entries.append(PushEntryOf(FileEntryOf(row)));
    return site;
}

TSiteEntries TWindowSites::ShownSite()
{
    TSiteEntries site{m_catalogue.CurrentSite(), {}};
    const TRegListView *list = m_catalogue.Shown().lvFileDetails;
    for (int i = 0; i < list->RowCount(); ++i) {
        const TListRow *row = list->Row(i);
        site.entries.append(row ? PushEntryOf(FileEntryOf(*row)) : TPushEntry{});
    }
    return site;
}

void TWindowSites::BeginWalk()
{
    m_remembered = m_navigator.currentItem();
}

TSiteEntries TWindowSites::OpenSite(const QString &name)
{
    m_catalogue.SaveCurrentSite();
    // Until the next site has loaded whole, the list is no site's: a load that fails part-way
    // must not be stored under the previous site's name by the walk's end.
    m_catalogue.SetCurrentSiteName(QString());
    m_navigator.ShowSitePage(name);
    m_catalogue.LoadSite(name);
    m_catalogue.SetCurrentSiteName(name);
    return ShownSite();
}

void TWindowSites::EndWalk()
{
    // Handled again as a selection change, which stores the site still on screen and shows the
    // user's page.
    m_navigator.SelectNode(m_remembered);
}

void FollowTimerOptions(TEngine &engine, TGeneralOptions &options, QObject *context)
{
    const auto changed = [&engine] { Guarded([&engine] { engine.Refresh().OptionsChanged(); }); };
    QObject::connect(options.chkWatchChanges, &QCheckBox::toggled, context, changed);
    if (auto *minutes = options.spnTestFilesMinutes->findChild<QLineEdit *>())
        QObject::connect(minutes, &QLineEdit::textChanged, context, changed);
}

void SetRowStatus(TListRow &row, TFileStatus status, const TFileDetails *details)
{
    row.SetSubItem(colStatus, FileStatusText(status));
    if (!details)
        return;
    row.SetSubItem(colFileDateTime, details->dateTime);
    row.SetSubItem(colFileSize, details->size);
    row.SetSubItem(colAttribs, details->attribs);
}

void TWindowSites::SetStatus(int row, TFileStatus status, const TFileDetails *details)
{
    if (TListRow *item = m_catalogue.Shown().lvFileDetails->Row(row))
        SetRowStatus(*item, status, details);
}

void TWindowSites::TrustCertificate(const QString &site, const QString &fingerprint)
{
    if (site.isEmpty() || m_catalogue.CurrentSiteName() != site)
        return;
    TShownSite &shown = m_catalogue.Shown();
    TSite values = shown.Site();
    values.trustedCertificate = fingerprint;
    shown.Options().Set(values);
    m_catalogue.SaveCurrentSite();
}

QList<int> TWindowSites::SelectedRows()
{
    const TRegListView *list = m_catalogue.Shown().lvFileDetails;
    QList<int> rows;
    for (const TListRow *row : list->SelectedRows())
        rows.append(list->indexOfTopLevelItem(const_cast<TListRow *>(row)));
    return rows;
}

} // namespace quelmark
