#include "catalogue/F_NewWWW.h"

#include "catalogue/MessageBox.h"
#include "catalogue/P_Utils.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelmark {

TfrmAddNewWebSite::TfrmAddNewWebSite(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAddNewWebSite"));
    setWindowTitle(QStringLiteral("Add a new Web Site..."));
    CreateControls();
    MakeFixedDialog(this);
}

void TfrmAddNewWebSite::CreateControls()
{
    edtFTPServer = Named(new QLineEdit, "edtFTPServer");
    edtUserName = Named(new QLineEdit, "edtUserName");
    edtPassword = Named(new QLineEdit, "edtPassword");
    UseStarEcho(edtPassword);
    edtDefaultHostDir = Named(new QLineEdit, "edtDefaultHostDir");
    for (QLineEdit *edit : {edtFTPServer, edtUserName, edtPassword, edtDefaultHostDir})
        edit->setMinimumWidth(220);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("FTP Server:"), edtFTPServer);
    form->addRow(QStringLiteral("User Name:"), edtUserName);
    form->addRow(QStringLiteral("Password:"), edtPassword);
    form->addRow(QStringLiteral("Default Dir:"), edtDefaultHostDir);

    auto *buttons = new QDialogButtonBox;
    btnOK = Named(buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole), "btnOK");
    btnCancel = Named(buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole), "btnCancel");
    btnOK->setDefault(true);
    // The buttons' own clicks decide; the box must not close the dialog by itself.
    connect(btnOK, &QPushButton::clicked, this, GuardedHandler([this] { btnOKClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, GuardedHandler([this] { btnCancelClick(); }));

    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(buttons);
}

TSite TfrmAddNewWebSite::Site() const
{
    const QString server = edtFTPServer->text();
    return {server, server, edtUserName->text(), edtPassword->text(), edtDefaultHostDir->text()};
}

void TfrmAddNewWebSite::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
    // Each use starts at the server name, not at the button that closed the last one.
    edtFTPServer->setFocus();
}

void TfrmAddNewWebSite::btnOKClick()
{
    if (edtFTPServer->text().trimmed().isEmpty()) {
        TMessageBox::Information(this, QStringLiteral("Please enter an FTP server name."));
        edtFTPServer->setFocus();
        return;
    }
    if (const QString refusal = Refusal ? Refusal(Site()) : QString(); !refusal.isEmpty()) {
        TMessageBox::Information(this, refusal);
        edtFTPServer->setFocus();
        return;
    }
    QString dir = edtDefaultHostDir->text();
    NormalizeHostDir(dir);
    edtDefaultHostDir->setText(dir);
    accept();
}

void TfrmAddNewWebSite::btnCancelClick()
{
    reject();
}

} // namespace quelmark
