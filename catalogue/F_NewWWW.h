// The dialog that asks for a new web site: server, user name, password and default directory.
//
// Made once and reused, so its fields keep what was typed the time before. OK refuses an
// empty server name, and whatever Refusal names, with the dialog kept open with what was typed,
// and tidies the default directory before it closes.
#pragma once

#include "catalogue/P_Types.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;

namespace quelmark {

class TfrmAddNewWebSite : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAddNewWebSite(QWidget *parent = nullptr);

    // Returns the site typed in: named after its FTP server, as a new site is.
    TSite Site() const;

    void btnOKClick();
    void btnCancelClick();

    // Returns why OK must refuse the site as typed (a name in use, say), or an empty text.
    std::function<QString(const TSite &site)> Refusal;

    QLineEdit *edtFTPServer = nullptr;
    QLineEdit *edtUserName = nullptr;
    QLineEdit *edtPassword = nullptr;
    QLineEdit *edtDefaultHostDir = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateControls();
};

} // namespace quelmark
