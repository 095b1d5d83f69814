#include "catalogue/F_RenWWW.h"

#include "base/Exception.h"
#include "catalogue/DialogParts.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Utils.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelmark {

TfrmRenameWebSite::TfrmRenameWebSite(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRenameWebSite"));
    setWindowTitle(QStringLiteral("Rename Web Site..."));
    edtSiteName = Named(new QLineEdit, "edtSiteName");
    edtSiteName->setMinimumWidth(280);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Site name:"), edtSiteName);

    const TOkCancel buttons = MakeOkCancel(this);
    btnOK = buttons.ok;
    btnCancel = buttons.cancel;
    connect(btnOK, &QPushButton::clicked, this, GuardedHandler([this] { btnOKClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons.row);
    SetTabChain({edtSiteName, btnOK, btnCancel});
    MakeFixedDialog(this);
}

int TfrmRenameWebSite::RunRename(const QString &name)
{
    m_name = name;
    edtSiteName->setText(name);
    return exec();
}

QString TfrmRenameWebSite::NewName() const
{
    return edtSiteName->text();
}

void TfrmRenameWebSite::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
    edtSiteName->setFocus();
    edtSiteName->selectAll();
}

void TfrmRenameWebSite::btnOKClick()
{
    const QString name = NewName();
    QString refusal;
    if (name.trimmed().isEmpty())
        refusal = QStringLiteral("Please enter a web site name.");
    else if (name != m_name && Refusal)
        refusal = Refusal(name);
    if (!refusal.isEmpty()) {
        TMessageBox::Refuse(this, refusal, edtSiteName);
        return;
    }
    accept();
}

} // namespace quelmark
