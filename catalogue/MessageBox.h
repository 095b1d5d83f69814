// The program's message boxes, in one place.
//
// Every information, confirmation and error box goes through TMessageBox, titled with the
// program's name. Tests switch on the test mode: boxes are then recorded instead of shown and
// confirmations take their answers from a queue, so no test ever blocks on a modal box.
#pragma once

#include "catalogue/TestHook.h"

#include <QList>
#include <QString>

class QWidget;

namespace quelmark {

enum class TBoxKind { Information, Confirm, ConfirmOkCancel, Critical };
enum class TBoxAnswer { Ok, Cancel, Yes, No };

// One box as the test mode recorded it.
struct TShownBox {
    TBoxKind kind;
    QString title;
    QString text;
};

// In test mode a confirmation without a queued answer is answered No (or Cancel), the safe
// choice.
class TMessageBox : public TTestHook<TBoxAnswer, TShownBox> {
public:
    using TKind = TBoxKind;

    // Shows an information box with one OK button.
    static void Information(QWidget *parent, const QString &text);
    // Tells in an information box why what was typed into a dialog cannot be taken, then puts the
    // focus on field, the one at fault.
    static void Refuse(QWidget *dialog, const QString &text, QWidget *field);
    // Asks with Yes and No buttons (Enter answers Yes, Esc answers No); returns Yes or No.
    static TAnswer Confirm(QWidget *parent, const QString &text);
    // Asks with OK and Cancel buttons; returns Ok or Cancel.
    static TAnswer ConfirmOkCancel(QWidget *parent, const QString &text);
    // Shows an error box with one OK button.
    static void Critical(QWidget *parent, const QString &text);

    // Returns the title every box carries.
    static QString Title();

private:
    static TAnswer Ask(TKind kind, QWidget *parent, const QString &text);
    static TAnswer Recorded(TKind kind, const QString &text);
};

} // namespace quelmark
