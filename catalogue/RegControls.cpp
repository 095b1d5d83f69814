#include "catalogue/RegControls.h"

#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteRecord.h"

#include <QButtonGroup>
#include <QFocusEvent>
#include <QHeaderView>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace quelmark {

namespace {

// QObject::children() no longer reflects creation order once widgets are reparented into
// layouts, splitters or pages, so every persisted control takes a number when it is made.
std::uint64_t g_nextSequence = 0;

// Names a subkey below a section, which may itself be the base key (empty section).
QString JoinPath(const QString &section, const QString &name)
{
    return section.isEmpty() ? name : section + QLatin1Char('\\') + name;
}

} // namespace

TRegControl::TRegControl() : m_sequence(++g_nextSequence) {}

QList<TRegControl *> PersistedControls(QWidget *window)
{
    QList<TRegControl *> controls;
    if (auto *self = dynamic_cast<TRegControl *>(window))
        controls.append(self);
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (auto *control = dynamic_cast<TRegControl *>(child))
            controls.append(control);
    }
    std::sort(controls.begin(), controls.end(),
              [](const TRegControl *a, const TRegControl *b) { return a->CreationSequence() < b->CreationSequence(); });
    return controls;
}

void SaveRegControls(QWidget *window, const QString &basePath)
{
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    for (TRegControl *control : PersistedControls(window)) {
        if (control->RegSection().isEmpty() || control->RegKeyword().isEmpty())
            continue;
        control->SaveTo(ini, basePath);
    }
    transaction.Commit();
}

void LoadRegControls(QWidget *window, const QString &basePath)
{
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    for (TRegControl *control : PersistedControls(window)) {
        const bool named = !control->RegSection().isEmpty() && !control->RegKeyword().isEmpty();
        if (named || control->LoadsWithoutNames())
            control->LoadFrom(ini, basePath);
    }
    transaction.Commit();
}

// ---- simple kinds -------------------------------------------------------------------------

TRegEdit::TRegEdit(QWidget *parent) : QLineEdit(parent) {}

void TRegEdit::SaveTo(TRegIniFile &ini, const QString &)
{
    ini.WriteText(RegSection(), RegKeyword(), text());
}

void TRegEdit::LoadFrom(TRegIniFile &ini, const QString &)
{
    setText(ini.ReadText(RegSection(), RegKeyword(), text()));
}

TRegPasswordEdit::TRegPasswordEdit(QWidget *parent) : TRegEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, [this] { Problem.clear(); });
}

void TRegPasswordEdit::SaveTo(TRegIniFile &ini, const QString &)
{
    ini.WriteText(RegSection(), RegKeyword(), InKeyring ? QString() : text());
    if (InKeyring)
        ini.WriteFlag(RegSection(), store::PasswordInKeyring, true);
}

void TRegPasswordEdit::LoadFrom(TRegIniFile &ini, const QString &basePath)
{
    TRegEdit::LoadFrom(ini, basePath);
    InKeyring = ini.ReadFlag(RegSection(), store::PasswordInKeyring, false);
    Problem.clear();
}

TRegCheckBox::TRegCheckBox(const QString &text, QWidget *parent) : QCheckBox(text, parent)
{
    connect(this, &QCheckBox::toggled, this, [this] { m_keptText.clear(); });
}

void TRegCheckBox::SetStoredTexts(const QString &off, const QString &on)
{
    m_offText = off;
    m_onText = on;
}

void TRegCheckBox::SaveTo(TRegIniFile &ini, const QString &)
{
    if (m_onText.isEmpty())
        ini.WriteFlag(RegSection(), RegKeyword(), isChecked());
    else
        ini.WriteText(RegSection(), RegKeyword(), RegText());
}

void TRegCheckBox::LoadFrom(TRegIniFile &ini, const QString &)
{
    if (m_onText.isEmpty())
        setChecked(ini.ReadFlag(RegSection(), RegKeyword(), isChecked()));
    else
        SetRegText(ini.ReadText(RegSection(), RegKeyword(), RegText()));
}

QString TRegCheckBox::RegText() const
{
    if (!m_keptText.isEmpty())
        return m_keptText;
    return isChecked() ? m_onText : m_offText;
}

void TRegCheckBox::SetRegText(const QString &text)
{
    const bool on = text.compare(m_onText, Qt::CaseInsensitive) == 0;
    setChecked(on);
    m_keptText = on || text.compare(m_offText, Qt::CaseInsensitive) == 0 ? QString() : text;
}

template <typename Button> void TRegCheckedButton<Button>::SaveTo(TRegIniFile &ini, const QString &)
{
    ini.WriteFlag(RegSection(), RegKeyword(), this->isChecked());
}

template <typename Button> void TRegCheckedButton<Button>::LoadFrom(TRegIniFile &ini, const QString &)
{
    this->setChecked(ini.ReadFlag(RegSection(), RegKeyword(), this->isChecked()));
}

template class TRegCheckedButton<QRadioButton>;
template class TRegCheckedButton<QToolButton>;

TRegSpeedButton::TRegSpeedButton(QWidget *parent) : TRegCheckedButton(parent)
{
    setCheckable(true);
    setAutoRaise(true);
}

// ---- spin edit ----------------------------------------------------------------------------

TRegSpinEdit::TRegSpinEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    lineEdit()->setText(QString::number(m_minimum));
}

std::int32_t TRegSpinEdit::Value() const
{
    std::int32_t value = 0;
    if (!ParseStoredNumber(lineEdit()->text().trimmed(), value))
        return m_minimum;
    return Clamped(value);
}

void TRegSpinEdit::SetValue(std::int32_t value)
{
    const QString text = QString::number(Clamped(value));
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TRegSpinEdit::SetRange(std::int32_t minimum, std::int32_t maximum)
{
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    SetValue(Value());
}

std::int32_t TRegSpinEdit::Clamped(std::int64_t value) const
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, m_minimum, m_maximum));
}

void TRegSpinEdit::stepBy(int steps)
{
    SetValue(Clamped(std::int64_t(Value()) + std::int64_t(steps) * m_singleStep));
    selectAll();
}

QSize TRegSpinEdit::sizeHint() const
{
    // The base box knows no range of its own, so its hint fits no number at all.
    ensurePolished();
    const QFontMetrics metrics = fontMetrics();
    int width = 0;
    for (const std::int32_t bound : {m_minimum, m_maximum})
        width = std::max(width, metrics.horizontalAdvance(QString::number(bound) + QLatin1Char(' ')));
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize text(width + 2, lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QAbstractSpinBox::StepEnabled TRegSpinEdit::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    const std::int32_t value = Value();
    if (value < m_maximum)
        enabled |= StepUpEnabled;
    if (value > m_minimum)
        enabled |= StepDownEnabled;
    return enabled;
}

void TRegSpinEdit::focusOutEvent(QFocusEvent *event)
{
    QAbstractSpinBox::focusOutEvent(event);
    SetValue(Value());
}

void TRegSpinEdit::SaveTo(TRegIniFile &ini, const QString &)
{
    ini.WriteNumber(RegSection(), RegKeyword(), Value());
}

void TRegSpinEdit::LoadFrom(TRegIniFile &ini, const QString &)
{
    SetValue(ini.ReadNumber(RegSection(), RegKeyword(), Value()));
}

// ---- combo box, list box, radio group -----------------------------------------------------

TRegComboBox::TRegComboBox(QWidget *parent) : QComboBox(parent) {}

void TRegComboBox::SaveTo(TRegIniFile &ini, const QString &)
{
    if (m_regSaveIndex)
        ini.WriteNumber(RegSection(), RegKeyword(), currentIndex());
    else
        ini.WriteText(RegSection(), RegKeyword(), RegText());
}

void TRegComboBox::LoadFrom(TRegIniFile &ini, const QString &)
{
    if (m_regSaveIndex) {
        setCurrentIndex(ini.ReadNumber(RegSection(), RegKeyword(), 0));
        return;
    }
    SetRegText(ini.ReadText(RegSection(), RegKeyword(), currentText()));
}

void TRegComboBox::SetRegText(const QString &text)
{
    if (isEditable()) {
        setEditText(text);
        return;
    }
    setCurrentIndex(findText(text));
    m_keptText = currentIndex() < 0 ? text : QString();
}

QString TRegComboBox::RegText() const
{
    return !isEditable() && currentIndex() < 0 ? m_keptText : currentText();
}

TRegListBox::TRegListBox(QWidget *parent) : QListWidget(parent) {}

void TRegListBox::SaveTo(TRegIniFile &ini, const QString &)
{
    if (m_regSaveIndex)
        ini.WriteNumber(RegSection(), RegKeyword(), currentRow());
}

void TRegListBox::LoadFrom(TRegIniFile &ini, const QString &)
{
    if (m_regSaveIndex)
        setCurrentRow(ini.ReadNumber(RegSection(), RegKeyword(), -1));
}

TRegRadioGroup::TRegRadioGroup(const QString &title, QWidget *parent)
    : QGroupBox(title, parent), m_buttons(new QButtonGroup(this))
{
    new QVBoxLayout(this);
}

void TRegRadioGroup::SetItems(const QStringList &captions)
{
    for (QAbstractButton *button : m_buttons->buttons())
        delete button;
    for (int i = 0; i < captions.size(); ++i) {
        auto *button = new QRadioButton(captions[i], this);
        m_buttons->addButton(button, i);
        layout()->addWidget(button);
    }
}

int TRegRadioGroup::ItemIndex() const
{
    return m_buttons->checkedId();
}

void TRegRadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton *button = m_buttons->button(index)) {
        button->setChecked(true);
        return;
    }
    // An index without a button clears the choice, which an exclusive group does not allow.
    m_buttons->setExclusive(false);
    for (QAbstractButton *button : m_buttons->buttons())
        button->setChecked(false);
    m_buttons->setExclusive(true);
}

void TRegRadioGroup::SaveTo(TRegIniFile &ini, const QString &)
{
    ini.WriteNumber(RegSection(), RegKeyword(), ItemIndex());
}

void TRegRadioGroup::LoadFrom(TRegIniFile &ini, const QString &)
{
    SetItemIndex(ini.ReadNumber(RegSection(), RegKeyword(), ItemIndex()));
}

// ---- memo ---------------------------------------------------------------------------------

std::int32_t ColorToNumber(const QColor &color)
{
    return color.red() | (color.green() << 8) | (color.blue() << 16);
}

QColor NumberToColor(std::int32_t number)
{
    return QColor(number & 0xFF, (number >> 8) & 0xFF, (number >> 16) & 0xFF);
}

TRegMemo::TRegMemo(QWidget *parent) : QPlainTextEdit(parent) {}

void TRegMemo::SaveTo(TRegIniFile &ini, const QString &)
{
    const QString &section = RegSection();
    const QString &key = RegKeyword();
    const QFont f = font();
    ini.WriteNumber(section, key + QStringLiteral("BGColor"), ColorToNumber(palette().color(QPalette::Base)));
    ini.WriteText(section, key + QStringLiteral("FontName"), f.family());
    ini.WriteNumber(section, key + QStringLiteral("FontColor"), ColorToNumber(palette().color(QPalette::Text)));
    ini.WriteNumber(section, key + QStringLiteral("FontSize"), f.pointSize());
    ini.WriteFlag(section, key + QStringLiteral("FontBold"), f.bold());
    ini.WriteFlag(section, key + QStringLiteral("FontItalic"), f.italic());
    ini.WriteFlag(section, key + QStringLiteral("FontUnderline"), f.underline());
    ini.WriteFlag(section, key + QStringLiteral("FontStrikeOut"), f.strikeOut());
}

void TRegMemo::LoadFrom(TRegIniFile &ini, const QString &)
{
    const QString &section = RegSection();
    const QString &key = RegKeyword();
    QPalette colours = palette();
    colours.setColor(QPalette::Base, NumberToColor(ini.ReadNumber(section, key + QStringLiteral("BGColor"),
                                                                  ColorToNumber(colours.color(QPalette::Base)))));
    QFont f = font();
    f.setFamily(ini.ReadText(section, key + QStringLiteral("FontName"), f.family()));
    colours.setColor(QPalette::Text, NumberToColor(ini.ReadNumber(section, key + QStringLiteral("FontColor"),
                                                                  ColorToNumber(colours.color(QPalette::Text)))));
    const std::int32_t size = ini.ReadNumber(section, key + QStringLiteral("FontSize"), f.pointSize());
    if (size > 0)
        f.setPointSize(size);
    // A stored style adds to the current font; a false value never takes a style away.
    if (ini.ReadFlag(section, key + QStringLiteral("FontBold"), false))
        f.setBold(true);
    if (ini.ReadFlag(section, key + QStringLiteral("FontItalic"), false))
        f.setItalic(true);
    if (ini.ReadFlag(section, key + QStringLiteral("FontUnderline"), false))
        f.setUnderline(true);
    if (ini.ReadFlag(section, key + QStringLiteral("FontStrikeOut"), false))
        f.setStrikeOut(true);
    setPalette(colours);
    setFont(f);
}

// ---- list view ----------------------------------------------------------------------------

TListRow::TListRow() : QTreeWidgetItem(Type) {}

void TListRow::SetSubItems(const QStringList &texts)
{
    for (int k = texts.size(); k < m_subItems.size(); ++k)
        setText(k + 1, QString());
    m_subItems = texts;
    for (int k = 0; k < m_subItems.size(); ++k)
        setText(k + 1, m_subItems[k]);
}

QString TListRow::SubItem(int k) const
{
    return k >= 0 && k < m_subItems.size() ? m_subItems[k] : QString();
}

void TListRow::SetSubItem(int k, const QString &text)
{
    if (k < 0)
        return;
    while (m_subItems.size() <= k)
        m_subItems.append(QString());
    m_subItems[k] = text;
    setText(k + 1, text);
}

void TListRow::AppendSubItem(const QString &text)
{
    SetSubItem(static_cast<int>(m_subItems.size()), text);
}

QVariant TListRow::data(int column, int role) const
{
    if (role == Qt::ToolTipRole) {
        const auto *list = qobject_cast<const TRegListView *>(treeWidget());
        if (list && list->RowToolTip) {
            if (const QString tip = list->RowToolTip(*this); !tip.isEmpty())
                return tip;
        }
    }
    return QTreeWidgetItem::data(column, role);
}

TRegListView::TRegListView(QWidget *parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void TRegListView::SetColumns(const QStringList &headers, const QList<int> &widths)
{
    setColumnCount(static_cast<int>(headers.size()));
    setHeaderLabels(headers);
    for (int i = 0; i < widths.size() && i < headers.size(); ++i) {
        if (widths[i] > 0)
            header()->resizeSection(i, widths[i]);
    }
}

TListRow *TRegListView::Row(int index) const
{
    QTreeWidgetItem *item = topLevelItem(index);
    return item && item->type() == TListRow::Type ? static_cast<TListRow *>(item) : nullptr;
}

TListRow *TRegListView::AddRow()
{
    auto *row = new TListRow;
    addTopLevelItem(row);
    return row;
}

void TRegListView::RemoveRow(TListRow *row)
{
    delete takeTopLevelItem(indexOfTopLevelItem(row));
}

QList<TListRow *> TRegListView::SelectedRows() const
{
    QList<TListRow *> rows;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        if (item->isSelected() && item->type() == TListRow::Type)
            rows.append(static_cast<TListRow *>(item));
    }
    return rows;
}

QString TRegListView::SiteKeyPath(const QString &basePath) const
{
    return JoinPath(basePath, JoinPath(RegSection(), RegKeyword()));
}

void TRegListView::SaveTo(TRegIniFile &ini, const QString &basePath)
{
    QList<TStoredRow> rows;
    rows.reserve(RowCount());
    for (int i = 0; i < RowCount(); ++i) {
        const TListRow *row = Row(i);
        rows.append({row->Caption(), row->SubItems(), row->Checked(), row->ImageIndex(), row->StateIndex()});
    }
    WriteRows(ini, basePath, JoinPath(RegSection(), RegKeyword()), rows);
}

void TRegListView::LoadFrom(TRegIniFile &, const QString &basePath)
{
    clear();
    TRegIniFile site(SiteKeyPath(basePath));
    // The rows join the list together once they are read, which spares the list a notice for
    // every row and every text set; a read that fails still leaves the rows read so far, the
    // one it failed in included, in the list.
    QList<TStoredRow> stored;
    const auto append = qScopeGuard([&] {
        QList<QTreeWidgetItem *> rows;
        rows.reserve(stored.size());
        for (const TStoredRow &values : std::as_const(stored)) {
            auto *row = new TListRow;
            row->SetCaption(values.caption);
            row->SetChecked(values.checked);
            row->SetStateIndex(values.stateIndex);
            row->SetImageIndex(values.imageIndex);
            row->SetSubItems(values.texts);
            rows.append(row);
        }
        addTopLevelItems(rows);
    });
    ReadRows(site, columnCount(), stored);
}

} // namespace quelmark
