// The program's message boxes, in one place.
//
// Every information, confirmation and error box goes through TMessageBox, titled with the
// program's name. Tests switch on the test mode: boxes are then recorded instead of shown and
// confirmations take their answers from a queue, so no test ever blocks on a modal box.
#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace quelmark {

class TMessageBox {
public:
    enum class TKind { Information, Confirm, ConfirmOkCancel, Critical };
    enum class TAnswer { Ok, Cancel, Yes, No };

    // One box as the test mode recorded it.
    struct TShown {
        TKind kind;
        QString title;
        QString text;
    };

    // Shows an information box with one OK button.
    static void Information(QWidget *parent, const QString &text);
    // Asks with Yes and No buttons (Enter answers Yes, Esc answers No); returns Yes or No.
    static TAnswer Confirm(QWidget *parent, const QString &text);
    // Asks with OK and Cancel buttons; returns Ok or Cancel.
    static TAnswer ConfirmOkCancel(QWidget *parent, const QString &text);
    // Shows an error box with one OK button.
    static void Critical(QWidget *parent, const QString &text);

    // Returns the title every box carries.
    static QString Title();

    // Test mode: record boxes instead of showing them. Leaving it clears queue and record.
    static void SetTestMode(bool on);
    // Queues the answer of the next confirmation in test mode; without one, a confirmation
    // is answered No (or Cancel), the safe choice.
    static void SetNextAnswer(TAnswer answer);
    static const QList<TShown> &Shown();
    static void ClearShown();

private:
    static TAnswer Ask(TKind kind, QWidget *parent, const QString &text);
};

} // namespace quelmark
