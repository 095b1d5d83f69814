// What the program's dialogs share in how they answer the keyboard: OK and Cancel side by side
// at the right, OK the default button for good, and Tab going through the dialog in the order
// the eye reads it.
#pragma once

#include <QList>

class QDialog;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace quelmark {

// The button row of a dialog: OK, then Cancel, at the right.
struct TOkCancel {
    QPushButton *ok = nullptr;
    QPushButton *cancel = nullptr;
    QHBoxLayout *row = nullptr;
};

// Makes the dialog's "&OK" and "&Cancel" buttons ("btnOK", "btnCancel") and the row that holds
// them. Neither is connected: the dialog decides what they do.
TOkCancel MakeOkCancel(QDialog *dialog);

// Makes ok the dialog's default button and keeps it so: no push button of the dialog takes the
// default over when it has the focus, so Enter in any field presses OK, however the focus went
// around before. Esc stays the dialog's Cancel.
void KeepOkDefault(QDialog *dialog, QPushButton *ok);

// Makes Tab go from each widget to the next in the order given (and Shift+Tab back).
void SetTabChain(const QList<QWidget *> &widgets);

} // namespace quelmark
