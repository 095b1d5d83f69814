// The window's face of the push engine: what the engine tells is shown in the window's controls,
// and what it works on is taken from them.
//
// TEngineView observes an engine and shows its work: the log's lines in the log area, the holds
// as a disabled window and a busy cursor, a transfer in the progress window and the status bar,
// the pages of an upload copy, the address in use, notes in the status bar, questions in message
// boxes, and the timer's state on its toolbar button and in the animation beside it.
//
// TWindowSites gives the engine the window's values: the general options from their controls,
// the shown site from the site page, the other sites from the store; a walk over the sites shows
// each on the site page in turn, as the window always did.
//
// The main window and the engine tests build the same two from the same widgets.
#pragma once

#include "engine/EngineObserver.h"
#include "engine/PushResults.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QAction;
class QLineEdit;
class QStatusBar;
class QToolBar;
class QTreeWidgetItem;

namespace quelmark {

class TCatalogue;
class TEngine;
class TGeneralOptions;
class TListRow;
class TNavigator;
class TTextArea;
class TfrmProgress;

// A small spinner, 20 by 20, that turns while playing and on show: visible, in a window that
// is neither hidden nor minimised. Out of sight it keeps no timer, so a program that waits in
// the tray or on the task bar for its next check is not woken for it.
class TAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TAnimation(QWidget *parent = nullptr);

    void Play();
    void Stop();
    // True from Play to Stop, on show or not.
    bool Playing() const { return m_playing; }
    // True while the frames change: playing and on show.
    bool Turning() const { return m_frames.isActive(); }

    QSize sizeHint() const override { return {20, 20}; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Follows an event of the animation itself (own) or of one of its ancestors.
    void Follow(const QEvent &event, bool own);
    void WatchAncestors();
    void TurnWhenOnShow();

    QTimer m_frames;
    int m_frame = 0;
    bool m_playing = false;
    // The widgets between this one and its window, the window included, whose changes of
    // window state and parent it follows.
    QList<QPointer<QWidget>> m_ancestors;
};

// The log's display: the engine's log lines in a text area, which the user can save.
class TLogDisplay : public TEngineObserver {
public:
    // Shows the lines in area; dialogParent is the save dialog's parent.
    explicit TLogDisplay(TTextArea *area, QWidget *dialogParent = nullptr);

    void LogLine(const QString &line) override;
    void LogCleared() override;

    // Asks for a file name and saves the area's lines there with CR LF after each; the area is
    // unchanged. Raises Exception "Cannot create file <path>" when the file cannot be written.
    void btnSaveCurrentFileClick();

    TTextArea *Area() const;

private:
    QPointer<TTextArea> m_area;
    QPointer<QWidget> m_dialogParent;
};

// The window's controls the engine's work is shown in; any may be null, and nothing is shown
// there then.
struct TEngineViewParts {
    QWidget *mainWindow = nullptr;
    TTextArea *memoLog = nullptr;
    QLineEdit *edtLocalAddress = nullptr;
    QStatusBar *statusBar = nullptr;
    TTextArea *memoLocalFile = nullptr;
    TTextArea *memoHostFile = nullptr;
    TfrmProgress *frmProgress = nullptr;
    // The toolbar button "Toggle the timer on/off"; the animation goes last on toolbar, so
    // the buttons stay where they are when it appears.
    QAction *btnStartStop = nullptr;
    QToolBar *toolbar = nullptr;
};

class TEngineView : public QObject, public TEngineObserver {
    Q_OBJECT
public:
    // Observes engine while it lives; gives the start/stop button its picture and hint and ties
    // its clicks to the refresh cycle, and the progress window's Cancel to the transfer.
    TEngineView(TEngine &engine, const TEngineViewParts &parts, QObject *owner = nullptr);
    ~TEngineView() override;

    void LogLine(const QString &line) override { m_log.LogLine(line); }
    void LogCleared() override { m_log.LogCleared(); }
    void Hold(THold hold, bool on) override;
    void TransferStarted(const QString &localFile) override;
    void TransferProgress(const QString &localFile, std::int64_t sent, std::int64_t size) override;
    void TransferEnded() override;
    bool ShowsPageLines() const override;
    void PageCopied(const QStringList &page, const QStringList &copy) override;
    void AddressInUse(const QString &address) override;
    void Note(const QString &text) override;
    void NoteDone(const QString &text) override;
    std::optional<bool> Ask(TQuestion question, const QString &text) override;
    void FileDone(const TFileResult &result) override;
    void TimerChanged(bool running) override;

    TLogDisplay &Log() { return m_log; }
    // What the pushes of this run came to; the status bar shows the newest failure that stands.
    TPushResults &Results() { return m_results; }
    // Shows the newest standing failure in the status bar, or clears it when none stands.
    void ShowStandingFailure();
    // True while the animation is on show.
    bool AnimationShown() const;

    // Lives on the toolbar when there is one, otherwise with the view.
    QPointer<TAnimation> Animation;
    QIcon imgStart;
    QIcon imgStop;

private:
    void PlaceAnimation();
    void ShowAnimation(bool show);
    void Enable(bool enabled);

    TEngine &m_engine;
    TEngineViewParts m_parts;
    TLogDisplay m_log;
    TPushResults m_results;
    QPointer<QAction> m_animationAction;
    // Whether each address-check hold that is on disabled the window (one per hold, innermost
    // last).
    QList<bool> m_checkHolds;
};

// Lets engine's refresh cycle take up at once a change of "Push changes at once" and of "Test
// local files every (mins):" in options, for as long as context lives.
void FollowTimerOptions(TEngine &engine, TGeneralOptions &options, QObject *context);

// Writes status into a row of the file list and, when details is given, the file details.
void SetRowStatus(TListRow &row, TFileStatus status, const TFileDetails *details);

// The engine's values as the window holds them. While it lives, the catalogue keeps passwords
// where "Keep passwords in the desktop keyring" says.
class TWindowSites : public TEngineData {
public:
    TWindowSites(TCatalogue &catalogue, TNavigator &navigator, TGeneralOptions &options);
    ~TWindowSites() override;
    Q_DISABLE_COPY(TWindowSites)

    TOptions Options() override;
    void SetLastIPAddress(const QString &address) override;
    // The navigator's sites; as the store lists them while the navigator is not built.
    QStringList SiteNames() override;
    TSiteEntries ReadSite(const QString &name) override;
    TSiteEntries ShownSite() override;
    // The walk remembers the navigator's node and hands it the selection again at the end.
    void BeginWalk() override;
    TSiteEntries OpenSite(const QString &name) override;
    void EndWalk() override;
    void SetStatus(int row, TFileStatus status, const TFileDetails *details) override;
    void TrustCertificate(const QString &site, const QString &fingerprint) override;
    QList<int> SelectedRows() override;

private:
    TCatalogue &m_catalogue;
    TNavigator &m_navigator;
    TGeneralOptions &m_options;
    QTreeWidgetItem *m_remembered = nullptr;
};

} // namespace quelmark
