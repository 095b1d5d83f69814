#include "catalogue/F_NewWWW.h"

#include "base/ServerField.h"
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

TfrmAddNewWebSite::~TfrmAddNewWebSite() = default;

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
    m_options = std::make_unique<TSiteOptionControls>(this, false);
    m_options->Set(NewSiteOptions());
    form->addRow(m_options->Panel());

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
    TSite site{server, server, edtUserName->text(), edtPassword->text(), edtDefaultHostDir->text()};
    m_options->Get(site);
    return site;
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
    if (RefuseServer())
        return;
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

bool TfrmAddNewWebSite::RefuseServer()
{
    // Caught here, the mistake is put right with the text still in the field; caught at the
    // first push, it would only be an entry's error in the log.
    const TServerField server = ParseServerField(edtFTPServer->text());
    if (server.Valid())
        return false;
    TMessageBox::Information(this, server.error + QLatin1Char('.'));
    edtFTPServer->setFocus();
    return true;
}

void TfrmAddNewWebSite::btnCancelClick()
{
    reject();
}

} // namespace quelmark
