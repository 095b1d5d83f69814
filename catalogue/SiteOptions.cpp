#include "catalogue/SiteOptions.h"

#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

#include <variant>

namespace quelmark {

namespace {

// An option that is on or off, shown as a check box captioned with its text.
struct TFlagOption {
    bool TSite::*value;
    bool forNewSite;
};

// A number within a range, shown as a spin box after its caption.
struct TCountOption {
    int TSite::*value;
    int minimum;
    int maximum;
    int forNewSite;
};

// A site option: one more is one more field of TSite, one more store name and one more row.
struct TSiteOption {
    const QString &storeName;
    const char *objectName;
    const char *caption;
    std::variant<TFlagOption, TCountOption> kind;
};

const TSiteOption kSiteOptions[] = {
    {store::Passive, "chkPassive", "Passive mode", TFlagOption{&TSite::passive, true}},
    {store::CreateFolders, "chkCreateFolders", "Create missing folders", TFlagOption{&TSite::createFolders, true}},
    {store::UploadViaTempName, "chkUploadViaTempName", "Replace files atomically",
     TFlagOption{&TSite::uploadViaTempName, true}},
    {store::Retries, "spnRetries", "Retries:", TCountOption{&TSite::retries, 0, 10, 2}},
};

constexpr int kColumns = 2;

template <typename... Handlers> struct TOverloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers> TOverloaded(Handlers...) -> TOverloaded<Handlers...>;

QWidget *MakeFlag(const TSiteOption &option, bool persisted)
{
    const QString caption = QString::fromLatin1(option.caption);
    QCheckBox *check = persisted ? new TRegCheckBox(caption) : new QCheckBox(caption);
    if (persisted)
        static_cast<TRegCheckBox *>(check)->SetRegKeyword(option.storeName);
    return Named(check, option.objectName);
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
    // The persisted box gives no width of its own that fits two digits and its arrows.
    spin->setMinimumWidth(spin->fontMetrics().horizontalAdvance(QString::number(count.maximum)) + 40);
    return Named(spin, option.objectName);
}

// Puts a spin box after its caption, the pair kept at the left of its cell.
QLayout *CaptionedCell(const TSiteOption &option, QWidget *control)
{
    auto *label = new QLabel(QString::fromLatin1(option.caption));
    label->setBuddy(control);
    auto *cell = new QHBoxLayout;
    cell->addWidget(label);
    cell->addWidget(control);
    cell->addStretch(1);
    return cell;
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

TSite NewSiteOptions()
{
    TSite site;
    for (const TSiteOption &option : kSiteOptions) {
        std::visit(TOverloaded{[&](const TFlagOption &f) { site.*f.value = f.forNewSite; },
                               [&](const TCountOption &c) { site.*c.value = c.forNewSite; }},
                   option.kind);
    }
    return site;
}

TSiteOptionControls::TSiteOptionControls(QWidget *parent, bool persisted)
{
    m_panel = Named(new QWidget(parent), "pnlSiteOptions");
    auto *grid = new QGridLayout(m_panel);
    grid->setContentsMargins(0, 0, 0, 0);
    int cell = 0;
    for (const TSiteOption &option : kSiteOptions) {
        const int row = cell / kColumns;
        const int column = cell % kColumns;
        ++cell;
        std::visit(TOverloaded{[&](const TFlagOption &) {
                                   QWidget *check = MakeFlag(option, persisted);
                                   grid->addWidget(check, row, column);
                                   m_controls.append(check);
                               },
                               [&](const TCountOption &count) {
                                   QWidget *spin = MakeCount(option, count, persisted);
                                   grid->addLayout(CaptionedCell(option, spin), row, column);
                                   m_controls.append(spin);
                               }},
                   option.kind);
    }
    Set(TSite{});
}

void TSiteOptionControls::Get(TSite &site) const
{
    for (qsizetype i = 0; i < m_controls.size(); ++i) {
        const QWidget *control = m_controls[i];
        std::visit(TOverloaded{[&](const TFlagOption &f) {
                                   site.*f.value = static_cast<const QCheckBox *>(control)->isChecked();
                               },
                               [&](const TCountOption &c) { site.*c.value = CountOf(control); }},
                   kSiteOptions[i].kind);
    }
}

void TSiteOptionControls::Set(const TSite &site)
{
    for (qsizetype i = 0; i < m_controls.size(); ++i) {
        QWidget *control = m_controls[i];
        std::visit(
            TOverloaded{[&](const TFlagOption &f) { static_cast<QCheckBox *>(control)->setChecked(site.*f.value); },
                        [&](const TCountOption &c) { SetCount(control, site.*c.value); }},
            kSiteOptions[i].kind);
    }
}

void TSiteOptionControls::SetRegSection(const QString &section)
{
    for (QWidget *control : m_controls) {
        if (auto *persisted = dynamic_cast<TRegControl *>(control))
            persisted->SetRegSection(section);
    }
}

} // namespace quelmark
