// TWait: the countdown control that bounds every wait of the network code.
//
// A waiter writes the number of ticks into Caption, shows the control and calls Execute, which
// counts down once per Interval milliseconds while the application's events keep being
// dispatched. Stop (called from a handler running inside the wait) ends it with ModalResult 1;
// running out ends it with ModalResult 2. Key and mouse-button presses are refused with a beep
// while a wait runs, but for those aimed at the windows LetInputThrough names.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QTimer;

namespace quelmark {

class TWait : public QWidget {
    Q_OBJECT
public:
    using TWaitEvent = std::function<void(QObject *sender, std::int32_t count)>;
    using TNotifyEvent = std::function<void(QObject *sender)>;

    explicit TWait(QWidget *parent = nullptr);
    ~TWait() override;

    // Runs one wait to its end. An exception raised by a handler during the wait is rethrown
    // here once the dispatch pass that raised it has returned.
    void Execute();
    // Ends the running wait; harmless when none runs.
    void Stop();
    // Lets key and mouse-button presses reach window and the widgets in it while a wait runs,
    // so that its buttons (a Cancel) work then; input anywhere else stays refused.
    void LetInputThrough(QWidget *window);

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption);
    int ModalResult() const { return m_modalResult; }
    std::uint16_t Interval() const;
    void SetInterval(std::uint16_t milliseconds);
    int StartCount() const { return m_startCount; }
    bool Waiting() const;

    TWaitEvent OnWaitEvent;
    TNotifyEvent OnTimeoutEvent;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void Tick();

    QString m_caption = QStringLiteral("60");
    QTimer *m_timer = nullptr;
    int m_modalResult = 0;
    int m_startCount = 60;
    std::vector<QPointer<QWidget>> m_inputWindows;
};

// Reads a count the way the control does: leading blanks skipped, then the longest run of
// decimal digits; no digit gives 0.
std::int32_t ReadCount(const QString &text);

// Sounds the beep that refuses input during a wait. It is QApplication::beep() unless replaced;
// SetBeep installs another sound (an empty function restores the default) and returns the
// previous one, so tests can count the beeps.
using BeepFunction = std::function<void()>;
BeepFunction SetBeep(BeepFunction beep);

} // namespace quelmark
