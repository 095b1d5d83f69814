// The dialog that gives a web site another name.
//
// Made once and reused. RunRename shows the site's name to be changed; OK refuses an empty
// name and whatever Refusal names (a name in use, say), with the dialog kept open with what was
// typed.
#pragma once

#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;

namespace quelmark {

class TfrmRenameWebSite : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRenameWebSite(QWidget *parent = nullptr);

    // Shows the dialog modally with name in "Site name:"; returns QDialog::Accepted or
    // QDialog::Rejected.
    int RunRename(const QString &name);
    // Returns the name typed, as typed.
    QString NewName() const;

    void btnOKClick();

    // Returns why OK must refuse a name other than the site's own, or an empty text.
    std::function<QString(const QString &name)> Refusal;

    QLineEdit *edtSiteName = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString m_name;
};

} // namespace quelmark
