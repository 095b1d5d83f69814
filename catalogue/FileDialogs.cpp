#include "catalogue/FileDialogs.h"

#include <QFileDialog>
#include <QQueue>

namespace quelmark {

namespace {

struct TTestState {
    bool on = false;
    QQueue<QString> answers;
    QList<TFileDialogs::TShown> shown;
};

TTestState &TestState()
{
    static TTestState state;
    return state;
}

} // namespace

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
    TTestState &test = TestState();
    if (test.on) {
        test.shown.append({kind, title, filters, defaultExtension, initialPath});
        return test.answers.isEmpty() ? QString() : test.answers.dequeue();
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

void TFileDialogs::SetTestMode(bool on)
{
    TTestState &test = TestState();
    test.on = on;
    if (!on) {
        test.answers.clear();
        test.shown.clear();
    }
}

void TFileDialogs::SetNextAnswer(const QString &path)
{
    TestState().answers.enqueue(path);
}

const QList<TFileDialogs::TShown> &TFileDialogs::Shown()
{
    return TestState().shown;
}

void TFileDialogs::ClearShown()
{
    TestState().shown.clear();
}

} // namespace quelmark
