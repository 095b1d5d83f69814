#include "catalogue/F_NewWWW.h"

#include "base/Exception.h"
#include "catalogue/MessageBox.h"
#include "catalogue/SiteEditing.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quelmark {

namespace {

class TStarEchoStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

template <typename T> T *Named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

void MakeFixedDialog(QDialog *dialog)
{
    dialog->setModal(true);
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void CentreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void UseStarEcho(QLineEdit *edit)
{
    auto *style = new TStarEchoStyle;
    style->setParent(edit);
    edit->setStyle(style);
    edit->setEchoMode(QLineEdit::Password);
}

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
    connect(btnOK, &QPushButton::clicked, this, [this] { Guarded([this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { Guarded([this] { btnCancelClick(); }); });

    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(buttons);
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
