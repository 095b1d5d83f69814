#include "catalogue/DialogParts.h"

#include "catalogue/P_Utils.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace quelmark {

TOkCancel MakeOkCancel(QDialog *dialog)
{
    // Made as the dialog's children from the start: a default button that is not yet the
    // dialog's own is forgotten by it, and the first button to take the focus became the
    // default in its place.
    TOkCancel buttons;
    buttons.ok = Named(new QPushButton(QStringLiteral("&OK"), dialog), "btnOK");
    buttons.cancel = Named(new QPushButton(QStringLiteral("&Cancel"), dialog), "btnCancel");
    buttons.row = new QHBoxLayout;
    buttons.row->addStretch(1);
    buttons.row->addWidget(buttons.ok);
    buttons.row->addWidget(buttons.cancel);
    KeepOkDefault(dialog, buttons.ok);
    return buttons;
}

void KeepOkDefault(QDialog *dialog, QPushButton *ok)
{
    for (QPushButton *button : dialog->findChildren<QPushButton *>())
        button->setAutoDefault(false);
    ok->setDefault(true);
}

void SetTabChain(const QList<QWidget *> &widgets)
{
    for (qsizetype i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets[i - 1], widgets[i]);
}

} // namespace quelmark
