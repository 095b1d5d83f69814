// TTermination: turns SIGTERM and SIGINT into an ordinary event on the user-interface thread.
//
// A signal handler may do almost nothing; this one writes one byte into a pipe whose reading
// end a socket notifier watches, so the program can close its window the normal way and keep
// its settings. One instance at a time; it restores the previous handlers when it goes.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quelmark {

class TTermination : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; raises Exception when the pipe cannot be made.
    explicit TTermination(QObject *parent = nullptr);
    ~TTermination() override;
    Q_DISABLE_COPY(TTermination)

    // Runs on the user-interface thread after SIGTERM or SIGINT arrived.
    std::function<void()> OnTerminate;

private:
    void Drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace quelmark
