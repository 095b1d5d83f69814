#include "engine/F_Prgrss.h"

#include "catalogue/P_Utils.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace quelmark {

TfrmProgress::TfrmProgress(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("File Transfer Progress"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    setFixedSize(317, 114);

    lblMessage = new QLabel(QStringLiteral("File Transfer Progress..."), this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMessage->setGeometry(14, 8, 289, 41);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setGeometry(14, 52, 289, 18);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(121, 79, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, GuardedHandler([this] { btnCancelClick(); }));
}

void TfrmProgress::btnCancelClick()
{
    if (m_transferCancelled)
        *m_transferCancelled = true;
}

void TfrmProgress::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Centred on the screen rather than on the (disabled) main window.
    CentreOnScreen(this);
}

} // namespace quelmark
