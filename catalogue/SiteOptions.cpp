#include "catalogue/SiteOptions.h"

#include "base/Exception.h"
#include "base/Overloaded.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/Icons.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"
#include "catalogue/SiteRecord.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include <variant>

namespace quelmark {

namespace {

// Cells per row; a text takes one, as half a row.
constexpr int kColumns = 2;
constexpr int kTextColumns = 1;

// Makes the control of option: the persisted kind Reg, named after the option's store value, or
// the plain kind Plain.
template <typename Plain, typename Reg, typename... Args>
Plain *MakeControl(const TSiteOption &option, bool persisted, Args &&...args)
{
    Plain *control = nullptr;
    if (persisted) {
        auto *reg = new Reg(std::forward<Args>(args)...);
        reg->SetRegKeyword(option.storeName);
        control = reg;
    } else {
        control = new Plain(std::forward<Args>(args)...);
    }
    return Named(control, option.objectName);
}

QWidget *MakeFlag(const TSiteOption &option, bool persisted)
{
    return MakeControl<QCheckBox, TRegCheckBox>(option, persisted, QString::fromLatin1(option.caption));
}

QWidget *MakeSwitch(const TSiteOption &option, const TSwitchOption &choice, bool persisted)
{
    QWidget *check = MakeFlag(option, persisted);
    if (persisted)
        static_cast<TRegCheckBox *>(check)->SetStoredTexts(choice.off, choice.on);
    return check;
}

QWidget *MakeChoice(const TSiteOption &option, const TChoiceOption &choice, bool persisted)
{
    QComboBox *box = MakeControl<QComboBox, TRegComboBox>(option, persisted);
    box->addItems(choice.choices);
    return box;
}

QWidget *MakeText(const TSiteOption &option, bool persisted)
{
    return MakeControl<QLineEdit, TRegEdit>(option, persisted);
}

QWidget *MakeCount(const TSiteOption &option, const TCountOption &count, bool persisted)
{
    QWidget *spin = nullptr;
    if (persisted) {
        auto *reg = new TRegSpinEdit;
        reg->SetRange(count.minimum, count.maximum);
        reg->SetRegKeyword(option.storeName);
        spin = reg;
    } else {
        auto *plain = new QSpinBox;
        plain->setRange(count.minimum, count.maximum);
        spin = plain;
    }
    return Named(spin, option.objectName);
}

// Puts a control after its caption, the pair kept at the left of its cell unless the control
// takes the cell's whole width.
QHBoxLayout *CaptionedCell(const TSiteOption &option, QWidget *control, bool wide = false)
{
    auto *label = new QLabel(QString::fromLatin1(option.caption));
    label->setBuddy(control);
    auto *cell = new QHBoxLayout;
    cell->addWidget(label);
    cell->addWidget(control, wide ? 1 : 0);
    if (!wide)
        cell->addStretch(1);
    return cell;
}

// The button beside a path that lets the user pick the file instead of typing its path.
QToolButton *BrowseButton(QLineEdit *path)
{
    auto *button = Named(new QToolButton, "btnBrowseKeyFile");
    button->setToolTip(QStringLiteral("Browse for a key file..."));
    button->setIcon(Picture(TPicture::Browse));
    button->setAutoRaise(true);
    QObject::connect(button, &QToolButton::clicked, path, GuardedHandler([path] {
                         // Keys are mostly kept with the user's other SSH files.
                         const QString start = path->text().trimmed().isEmpty()
                                                   ? QDir::homePath() + QStringLiteral("/.ssh")
                                                   : path->text();
                         const QString chosen =
                             TFileDialogs::GetOpenFileName(path->window(), QStringLiteral("Browse for a key file..."),
                                                           {QStringLiteral("All Files (*)")}, QString(), start);
                         if (!chosen.isEmpty())
                             path->setText(chosen);
                     }));
    return button;
}

// A persisted switch keeps a stored text it does not know, so the site's value is that text.
QString SwitchOf(const QWidget *control, const TSwitchOption &option)
{
    if (const auto *reg = qobject_cast<const TRegCheckBox *>(control))
        return reg->RegText();
    return static_cast<const QCheckBox *>(control)->isChecked() ? option.on : option.off;
}

void SetSwitch(QWidget *control, const TSwitchOption &option, const QString &value)
{
    if (auto *reg = qobject_cast<TRegCheckBox *>(control))
        reg->SetRegText(value);
    else
        static_cast<QCheckBox *>(control)->setChecked(value.compare(option.on, Qt::CaseInsensitive) == 0);
}

QString ChoiceOf(const QWidget *control)
{
    if (const auto *reg = qobject_cast<const TRegComboBox *>(control))
        return reg->RegText();
    return static_cast<const QComboBox *>(control)->currentText();
}

int CountOf(const QWidget *control)
{
    if (const auto *reg = qobject_cast<const TRegSpinEdit *>(control))
        return reg->Value();
    return static_cast<const QSpinBox *>(control)->value();
}

void SetCount(QWidget *control, int value)
{
    if (auto *reg = qobject_cast<TRegSpinEdit *>(control))
        reg->SetValue(value);
    else
        static_cast<QSpinBox *>(control)->setValue(value);
}

} // namespace

TSiteOptionControls::TSiteOptionControls(QWidget *parent, bool persisted)
{
    m_panel = Named(new QWidget(parent), "pnlSiteOptions");
    auto *grid = new QGridLayout(m_panel);
    grid->setContentsMargins(0, 0, 0, 0);
    int cell = 0;
    for (const TSiteOption &option : SiteOptionTable()) {
        // A text takes half a row, beginning at its start or its middle.
        if (std::holds_alternative<TTextOption>(option.kind) && cell % kTextColumns != 0)
            cell += kTextColumns - cell % kTextColumns;
        const int row = cell / kColumns;
        const int column = cell % kColumns;
        ++cell;
        QWidget *control = nullptr;
        std::visit(TOverloaded{[&](const TFlagOption &) {
                                   control = MakeFlag(option, persisted);
                                   grid->addWidget(control, row, column);
                               },
                               [&](const TCountOption &count) {
                                   control = MakeCount(option, count, persisted);
                                   grid->addLayout(CaptionedCell(option, control), row, column);
                               },
                               [&](const TSwitchOption &choice) {
                                   control = MakeSwitch(option, choice, persisted);
                                   grid->addWidget(control, row, column);
                               },
                               [&](const TChoiceOption &choice) {
                                   control = MakeChoice(option, choice, persisted);
                                   grid->addLayout(CaptionedCell(option, control), row, column);
                               },
                               [&](const TTextOption &text) {
                                   control = MakeText(option, persisted);
                                   QHBoxLayout *pair = CaptionedCell(option, control, true);
                                   m_tabOrder.append(control);
                                   if (text.browse) {
                                       QToolButton *browse = BrowseButton(static_cast<QLineEdit *>(control));
                                       pair->addWidget(browse);
                                       m_tabOrder.append(browse);
                                   }
                                   grid->addLayout(pair, row, column, 1, kTextColumns);
                                   cell += kTextColumns - 1;
                               }},
                   option.kind);
        if (!std::holds_alternative<TTextOption>(option.kind))
            m_tabOrder.append(control);
        m_controls.append(control);
        if (option.storeName == store::Protocol)
            QObject::connect(static_cast<QComboBox *>(control), &QComboBox::currentIndexChanged, m_panel,
                             [this] { ShowProtocol(); });
    }
    Set(TSite{});
}

void TSiteOptionControls::ShowProtocol()
{
    TSite site;
    Get(site);
    const bool ftp = !site.UsesSftp();
    for (qsizetype i = 0; i < m_controls.size(); ++i) {
        if (SiteOptionTable()[i].ftpOnly)
            m_controls[i]->setEnabled(ftp);
    }
}

void TSiteOptionControls::Get(TSite &site) const
{
    for (qsizetype i = 0; i < m_controls.size(); ++i) {
        const QWidget *control = m_controls[i];
        std::visit(TOverloaded{[&](const TFlagOption &f) {
                                   site.*f.value = static_cast<const QCheckBox *>(control)->isChecked();
                               },
                               [&](const TCountOption &c) { site.*c.value = CountOf(control); },
                               [&](const TSwitchOption &w) { site.*w.value = SwitchOf(control, w); },
                               [&](const TChoiceOption &c) { site.*c.value = ChoiceOf(control); },
                               [&](const TTextOption &t) {
                                   site.*t.value = static_cast<const QLineEdit *>(control)->text().trimmed();
                               }},
                   SiteOptionTable()[i].kind);
    }
}

void TSiteOptionControls::Set(const TSite &site)
{
    for (qsizetype i = 0; i < m_controls.size(); ++i) {
        QWidget *control = m_controls[i];
        std::visit(
            TOverloaded{[&](const TFlagOption &f) { static_cast<QCheckBox *>(control)->setChecked(site.*f.value); },
                        [&](const TCountOption &c) { SetCount(control, site.*c.value); },
                        [&](const TSwitchOption &w) { SetSwitch(control, w, site.*w.value); },
                        [&](const TChoiceOption &c) {
                            auto *box = static_cast<QComboBox *>(control);
                            box->setCurrentIndex(box->findText(site.*c.value));
                        },
                        [&](const TTextOption &t) { static_cast<QLineEdit *>(control)->setText(site.*t.value); }},
            SiteOptionTable()[i].kind);
    }
    ShowProtocol();
}

void TSiteOptionControls::SetRegSection(const QString &section)
{
    for (QWidget *control : m_controls) {
        if (auto *persisted = dynamic_cast<TRegControl *>(control))
            persisted->SetRegSection(section);
    }
}

} // namespace quelmark
