#include "catalogue/P_Utils.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>
#include <QProxyStyle>
#include <QScreen>

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

void SetEditEnabled(QLineEdit *edit, bool enabled)
{
    const QPalette standard = QApplication::palette(edit);
    const QColor fill =
        enabled ? standard.color(QPalette::Active, QPalette::Base) : standard.color(QPalette::Active, QPalette::Button);
    QPalette colours = edit->palette();
    colours.setColor(QPalette::Disabled, QPalette::Base, fill);
    colours.setColor(QPalette::Inactive, QPalette::Base, fill);
    colours.setColor(QPalette::Active, QPalette::Base, fill);
    edit->setPalette(colours);
    edit->setEnabled(enabled);
}

void SelectComboItem(QComboBox *list, const QString &text)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i) == text) {
            list->setCurrentIndex(i);
            return;
        }
    }
    list->setCurrentIndex(-1);
}

} // namespace quelmark
