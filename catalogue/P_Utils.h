// Helpers the program's windows and dialogs share: naming controls, handlers that keep
// exceptions out of Qt, fixed dialogs, password boxes, edit boxes that look disabled, combo
// selection by text, the tidying of host directories, and the test hook of the modal seams.
#pragma once

#include "base/Exception.h"

#include <QList>
#include <QQueue>
#include <QString>

class QComboBox;
class QDialog;
class QLineEdit;
class QWidget;

namespace quelmark {

// Gives an object its name, so tests and the toolbar layout can find it; returns it.
template <typename T> T *Named(T *object, const char *name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

// Returns a handler for a Qt connection that runs body through Guarded, so no exception
// reaches Qt.
template <typename F> auto GuardedHandler(F body)
{
    return [body] { Guarded(body); };
}

// Makes a dialog one of the program's fixed dialogs: modal, no title-bar buttons, fixed size.
void MakeFixedDialog(QDialog *dialog);
// Centres a window on its screen (or the primary one).
void CentreOnScreen(QWidget *window);

// Makes a password box show each character as "*", whatever the style would draw.
void UseStarEcho(QLineEdit *edit);

// Enables or disables an edit box and paints it in the window colour or, when disabled, in
// the colour of a button face.
void SetEditEnabled(QLineEdit *edit, bool enabled);

// Selects the first item whose text equals text exactly; selects none when no item does.
void SelectComboItem(QComboBox *list, const QString &text);

// Trims a non-blank host directory and makes it end with "/". A text that is blank, or whose
// trimmed form already ends with "/", is left exactly as it is.
void NormalizeHostDir(QString &text);

// The test mode of a modal seam (message boxes, file dialogs), which derives from it: while on,
// each dialog is recorded instead of shown and takes its answer from a queue, so no test ever
// blocks on a modal dialog.
template <typename TAnswer, typename TShown> class TTestHook {
public:
    // Switches the test mode; either way the queue and the record start empty.
    static void SetTestMode(bool on)
    {
        State().on = on;
        State().answers.clear();
        State().shown.clear();
    }
    // Queues the answer of the next dialog in test mode.
    static void SetNextAnswer(const TAnswer &answer) { State().answers.enqueue(answer); }
    // Returns the dialogs recorded in test mode, in order.
    static const QList<TShown> &Shown() { return State().shown; }
    static void ClearShown() { State().shown.clear(); }

protected:
    static bool TestMode() { return State().on; }
    // Records a dialog that test mode kept from showing.
    static void Record(const TShown &shown) { State().shown.append(shown); }
    // Takes the next queued answer; fallback when none is queued.
    static TAnswer NextAnswer(const TAnswer &fallback)
    {
        return State().answers.isEmpty() ? fallback : State().answers.dequeue();
    }

private:
    struct TState {
        bool on = false;
        QQueue<TAnswer> answers;
        QList<TShown> shown;
    };
    static TState &State()
    {
        static TState state;
        return state;
    }
};

} // namespace quelmark
