// The program's file-open and file-save dialogs, in one place.
//
// Every file dialog goes through TFileDialogs. Tests switch on the test mode: dialogs are then
// recorded instead of shown and each takes its answer from a queue, so no test ever blocks on
// a modal dialog.
#pragma once

#include "catalogue/TestHook.h"

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace quelmark {

enum class TFileDialogKind { Open, Save };

// One dialog as the test mode recorded it.
struct TShownFileDialog {
    TFileDialogKind kind;
    QString title;
    QStringList filters;
    QString defaultExtension;
    QString initialPath;
};

// In test mode each dialog takes the next queued path as its answer; an empty text, or no
// queued answer, cancels it.
class TFileDialogs : public TTestHook<QString, TShownFileDialog> {
public:
    using TKind = TFileDialogKind;

    // Asks for a file name to save to: the file's folder must exist and replacing an existing
    // file is confirmed first. Filters read "Text Files (*.TXT)"; a name typed without an
    // extension gets defaultExtension. Returns the chosen path, or an empty text when the
    // user cancels.
    static QString GetSaveFileName(QWidget *parent, const QString &title, const QStringList &filters,
                                   const QString &defaultExtension, const QString &initialPath = QString());
    // Asks for an existing file to open; returns its path, or an empty text when the user
    // cancels.
    static QString GetOpenFileName(QWidget *parent, const QString &title, const QStringList &filters,
                                   const QString &defaultExtension = QString(), const QString &initialPath = QString());

private:
    static QString Ask(TKind kind, QWidget *parent, const QString &title, const QStringList &filters,
                       const QString &defaultExtension, const QString &initialPath);
};

} // namespace quelmark
