#include "catalogue/F_NewWWW.h"

#include "base/Exception.h"
#include "base/ServerField.h"
#include "catalogue/DialogParts.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Utils.h"
#include "catalogue/SiteRecord.h"

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
    edtSiteName = Named(new QLineEdit, "edtSiteName");
    edtUserName = Named(new QLineEdit, "edtUserName");
    edtPassword = Named(new QLineEdit, "edtPassword");
    UseStarEcho(edtPassword);
    edtDefaultHostDir = Named(new QLineEdit, "edtDefaultHostDir");
    const QList<QLineEdit *> fields = {edtFTPServer, edtSiteName, edtUserName, edtPassword, edtDefaultHostDir};
    for (QLineEdit *edit : fields)
        edit->setMinimumWidth(220);
    connect(edtFTPServer, &QLineEdit::textChanged, this, &TfrmAddNewWebSite::FollowServer);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("FTP Server:"), edtFTPServer);
    form->addRow(QStringLiteral("Site name:"), edtSiteName);
    form->addRow(QStringLiteral("User Name:"), edtUserName);
    form->addRow(QStringLiteral("Password:"), edtPassword);
    form->addRow(QStringLiteral("Default Dir:"), edtDefaultHostDir);
    m_options = std::make_unique<TSiteOptionControls>(this, false);
    form->addRow(m_options->Panel());

    const TOkCancel buttons = MakeOkCancel(this);
    btnOK = buttons.ok;
    btnCancel = buttons.cancel;
    connect(btnOK, &QPushButton::clicked, this, GuardedHandler([this] { btnOKClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, GuardedHandler([this] { btnCancelClick(); }));

    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons.row);
    SetTabChain(QList<QWidget *>(fields.begin(), fields.end()) + m_options->TabOrder() +
                QList<QWidget *>{btnOK, btnCancel});
    Clear();
}

void TfrmAddNewWebSite::Clear()
{
    for (QLineEdit *edit : {edtFTPServer, edtSiteName, edtUserName, edtPassword, edtDefaultHostDir})
        edit->clear();
    m_followedServer.clear();
    m_options->Set(NewSiteOptions());
}

// The name proposed for a site is its server text, as sites were always named; a name the
// user typed stays.
void TfrmAddNewWebSite::FollowServer(const QString &server)
{
    if (edtSiteName->text() == m_followedServer)
        edtSiteName->setText(server);
    m_followedServer = server;
}

TSite TfrmAddNewWebSite::Site() const
{
    TSite site{edtSiteName->text(), edtFTPServer->text(), edtUserName->text(), edtPassword->text(),
               edtDefaultHostDir->text()};
    m_options->Get(site);
    return site;
}

void TfrmAddNewWebSite::showEvent(QShowEvent *event)
{
    // Each use starts empty at the server name: a site typed before belongs to the site it made.
    Clear();
    QDialog::showEvent(event);
    CentreOnScreen(this);
    edtFTPServer->setFocus();
}

void TfrmAddNewWebSite::btnOKClick()
{
    if (edtFTPServer->text().trimmed().isEmpty()) {
        TMessageBox::Refuse(this, QStringLiteral("Please enter an FTP server name."), edtFTPServer);
        return;
    }
    if (RefuseServer())
        return;
    if (edtSiteName->text().trimmed().isEmpty()) {
        TMessageBox::Refuse(this, QStringLiteral("Please enter a web site name."), edtSiteName);
        return;
    }
    if (const QString refusal = Refusal ? Refusal(Site()) : QString(); !refusal.isEmpty()) {
        TMessageBox::Refuse(this, refusal, edtSiteName);
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
    TMessageBox::Refuse(this, server.error + QLatin1Char('.'), edtFTPServer);
    return true;
}

void TfrmAddNewWebSite::btnCancelClick()
{
    reject();
}

} // namespace quelmark
