// Answers a modal dialog from the test while it runs.
#pragma once

#include <QDialog>
#include <QTimer>

#include <functional>

namespace quelmark::test {

// Runs act once the dialog's modal loop has started; a dialog that act left open is cancelled
// and counted in leftOpen, so a refused OK never blocks the test.
inline void WhileShown(QDialog *dialog, std::function<void()> act, int &leftOpen)
{
    QTimer::singleShot(0, dialog, [dialog, act = std::move(act), &leftOpen] {
        act();
        if (dialog->isVisible()) {
            ++leftOpen;
            dialog->reject();
        }
    });
}

} // namespace quelmark::test
