// The program's file-open and file-save dialogs, in one place.
//
// Every file dialog goes through TFileDialogs. Tests switch on the test mode: dialogs are then
// recorded instead of shown and each takes its answer from a queue, so no test ever blocks on
// a modal dialog.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace quelmark {

class TFileDialogs {
public:
    enum class TKind { Open, Save };

    // One dialog as the test mode recorded it.
    struct TShown {
        TKind kind;
        QString title;
        QStringList filters;
        QString defaultExtension;
        QString initialPath;
    };

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

    // Test mode: record dialogs instead of showing them. Leaving it clears queue and record.
    static void SetTestMode(bool on);
    // Queues the answer of the next dialog in test mode (an empty text cancels); without one,
    // a dialog is cancelled.
    static void SetNextAnswer(const QString &path);
    static const QList<TShown> &Shown();
    static void ClearShown();

private:
    static QString Ask(TKind kind, QWidget *parent, const QString &title, const QStringList &filters,
                       const QString &defaultExtension, const QString &initialPath);
};

} // namespace quelmark
