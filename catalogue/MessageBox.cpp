#include "catalogue/MessageBox.h"

#include <QMessageBox>

namespace quelmark {

namespace {

TMessageBox::TAnswer FromButton(int button)
{
    switch (button) {
    case QMessageBox::Yes:
        return TMessageBox::TAnswer::Yes;
    case QMessageBox::No:
        return TMessageBox::TAnswer::No;
    case QMessageBox::Cancel:
        return TMessageBox::TAnswer::Cancel;
    default:
        return TMessageBox::TAnswer::Ok;
    }
}

} // namespace

TMessageBox::TAnswer TMessageBox::Recorded(TKind kind, const QString &text)
{
    Record({kind, Title(), text});
    // Only questions take a queued answer; without one they get the safe choice.
    switch (kind) {
    case TKind::Confirm:
        return NextAnswer(TAnswer::No);
    case TKind::ConfirmOkCancel:
        return NextAnswer(TAnswer::Cancel);
    default:
        return TAnswer::Ok;
    }
}

QString TMessageBox::Title()
{
    return QStringLiteral("Varnholt Quelmark");
}

TMessageBox::TAnswer TMessageBox::Ask(TKind kind, QWidget *parent, const QString &text)
{
    if (TestMode())
        return Recorded(kind, text);
    switch (kind) {
    case TKind::Information:
        return FromButton(QMessageBox::information(parent, Title(), text));
    case TKind::Confirm:
        return FromButton(
            QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes));
    case TKind::ConfirmOkCancel:
        return FromButton(
            QMessageBox::question(parent, Title(), text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok));
    case TKind::Critical:
        return FromButton(QMessageBox::critical(parent, Title(), text));
    }
    return TAnswer::Ok;
}

void TMessageBox::Information(QWidget *parent, const QString &text)
{
    Ask(TKind::Information, parent, text);
}

void TMessageBox::Refuse(QWidget *dialog, const QString &text, QWidget *field)
{
    // The dialog stays open with what was typed, for the user to put it right.
    Information(dialog, text);
    field->setFocus();
}

TMessageBox::TAnswer TMessageBox::Confirm(QWidget *parent, const QString &text)
{
    return Ask(TKind::Confirm, parent, text);
}

TMessageBox::TAnswer TMessageBox::ConfirmOkCancel(QWidget *parent, const QString &text)
{
    return Ask(TKind::ConfirmOkCancel, parent, text);
}

void TMessageBox::Critical(QWidget *parent, const QString &text)
{
    Ask(TKind::Critical, parent, text);
}

} // namespace quelmark
