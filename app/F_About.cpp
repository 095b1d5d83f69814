#include "app/F_About.h"

#include "catalogue/Icons.h"
#include "catalogue/P_Utils.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quelmark {

TfrmAbout::TfrmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Varnholt Quelmark"));

    auto *picture = new QLabel;
    picture->setPixmap(Picture(TPicture::Program).pixmap(48, 48));
    auto *name = new QLabel(QStringLiteral("<b>Varnholt Quelmark</b>"));
    name->setObjectName(QStringLiteral("lblProgramName"));
    auto *version = new QLabel(QStringLiteral("Version ") + ProgramVersion());
    version->setObjectName(QStringLiteral("lblVersion"));
    auto *purpose = new QLabel(QStringLiteral("Keeps the pages of your web sites up to date over FTP, FTPS or SFTP "
                                              "and writes this machine's current IP address into them as it "
                                              "uploads them."));
    purpose->setObjectName(QStringLiteral("lblPurpose"));
    purpose->setWordWrap(true);
    purpose->setMinimumWidth(280);

    auto *texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(purpose);
    auto *row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    row->addLayout(texts, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(buttons);
    MakeFixedDialog(this);
}

} // namespace quelmark
