// TWait: the countdown that bounds every wait of the network code.
//
// A waiter writes the number of ticks into Caption and calls Execute, which counts down once per
// Interval milliseconds while the application's events keep being dispatched. Stop (called from
// a handler running inside the wait) ends it with ModalResult 1; running out ends it with
// ModalResult 2. The countdown needs no window: whoever must keep something out while a wait
// runs (the window refuses the user's key and mouse-button presses, app/WaitInput.h) is told when
// waits begin and end through OnWaiting.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QTimer;

namespace quelmark {

class TWait : public QObject {
    Q_OBJECT
public:
    using TWaitEvent = std::function<void(QObject *sender, std::int32_t count)>;
    using TNotifyEvent = std::function<void(QObject *sender)>;

    explicit TWait(QObject *parent = nullptr);
    ~TWait() override;

    // Runs one wait to its end. An exception raised by a handler during the wait is rethrown
    // here once the dispatch pass that raised it has returned.
    void Execute();
    // Ends the running wait; harmless when none runs.
    void Stop();

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption) { m_caption = caption; }
    int ModalResult() const { return m_modalResult; }
    std::uint16_t Interval() const;
    void SetInterval(std::uint16_t milliseconds);
    int StartCount() const { return m_startCount; }
    bool Waiting() const;

    TWaitEvent OnWaitEvent;
    TNotifyEvent OnTimeoutEvent;
    // Told true when a wait begins and false when it ends, however it ends; a wait nested in
    // another is told too.
    std::function<void(bool waiting)> OnWaiting;

private:
    void Tick();

    QString m_caption = QStringLiteral("60");
    QTimer *m_timer = nullptr;
    int m_modalResult = 0;
    int m_startCount = 60;
};

// Reads a count the way the control does: leading blanks skipped, then the longest run of
// decimal digits; no digit gives 0.
std::int32_t ReadCount(const QString &text);

} // namespace quelmark
