#include "catalogue/MessageBox.h"

#include <QMessageBox>
#include <QQueue>

namespace quelmark {

namespace {

struct TTestState {
    bool on = false;
    QQueue<TMessageBox::TAnswer> answers;
    QList<TMessageBox::TShown> shown;
};

TTestState &testState()
{
    static TTestState state;
    return state;
}

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

TMessageBox::TAnswer Recorded(TMessageBox::TKind kind, const QString &text)
{
    TTestState &state = testState();
    state.shown.append({kind, TMessageBox::Title(), text});
    switch (kind) {
    case TMessageBox::TKind::Confirm:
        return state.answers.isEmpty() ? TMessageBox::TAnswer::No : state.answers.dequeue();
    case TMessageBox::TKind::ConfirmOkCancel:
        return state.answers.isEmpty() ? TMessageBox::TAnswer::Cancel : state.answers.dequeue();
    default:
        return TMessageBox::TAnswer::Ok;
    }
}

} // namespace

QString TMessageBox::Title()
{
    return QStringLiteral("Varnholt Quelmark");
}

TMessageBox::TAnswer TMessageBox::Ask(TKind kind, QWidget *parent, const QString &text)
{
    if (testState().on)
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

void TMessageBox::SetTestMode(bool on)
{
    TTestState &state = testState();
    state.on = on;
    state.answers.clear();
    state.shown.clear();
}

void TMessageBox::SetNextAnswer(TAnswer answer)
{
    testState().answers.enqueue(answer);
}

const QList<TMessageBox::TShown> &TMessageBox::Shown()
{
    return testState().shown;
}

void TMessageBox::ClearShown()
{
    testState().shown.clear();
}

} // namespace quelmark
