// Helpers the program's windows and dialogs share: naming controls, fixed dialogs, password
// boxes, edit boxes that look disabled and combo selection by text.
#pragma once

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

} // namespace quelmark
