// The window's part in a network wait: while one runs, key presses and left or right mouse-button
// presses are refused with the system beep, but for those aimed at the windows LetInputThrough
// names (the progress window, whose Cancel must work then).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "base/Wait.h"

#include <functional>
#include <vector>

namespace quelmark {

class TWaitInput : public QObject {
    Q_OBJECT
public:
    // Refuses the input while wait runs, from now on.
    explicit TWaitInput(TWait &wait, QObject *parent = nullptr);
    ~TWaitInput() override;

    // Lets key and mouse-button presses reach window and the widgets in it while a wait runs;
    // input anywhere else stays refused.
    void LetInputThrough(QWidget *window);

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override;

private:
    void Waiting(bool waiting);
    bool Refuse(const QObject *receiver) const;

    // The wait may go first when both belong to the same window.
    QPointer<TWait> m_wait;
    std::vector<QPointer<QWidget>> m_passing;
    // How many waits run, nested in each other.
    int m_depth = 0;
};

// Sounds the beep that refuses input during a wait. It is QApplication::beep() unless replaced;
// SetBeep installs another sound (an empty function restores the default) and returns the
// previous one, so tests can count the beeps.
using BeepFunction = std::function<void()>;
BeepFunction SetBeep(BeepFunction beep);

} // namespace quelmark
