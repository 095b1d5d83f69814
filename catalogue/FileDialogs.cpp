#include "catalogue/FileDialogs.h"

#include <QFileDialog>

namespace quelmark {

QString TFileDialogs::GetSaveFileName(QWidget *parent, const QString &title, const QStringList &filters,
                                      const QString &defaultExtension, const QString &initialPath)
{
    return Ask(TKind::Save, parent, title, filters, defaultExtension, initialPath);
}

QString TFileDialogs::GetOpenFileName(QWidget *parent, const QString &title, const QStringList &filters,
                                      const QString &defaultExtension, const QString &initialPath)
{
    return Ask(TKind::Open, parent, title, filters, defaultExtension, initialPath);
}

QString TFileDialogs::Ask(TKind kind, QWidget *parent, const QString &title, const QStringList &filters,
                          const QString &defaultExtension, const QString &initialPath)
{
    if (TestMode()) {
        Record({kind, title, filters, defaultExtension, initialPath});
        return NextAnswer(QString());
    }

    QFileDialog dialog(parent, title, initialPath);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(defaultExtension);
    if (kind == TKind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

} // namespace quelmark
