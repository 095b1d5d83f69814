// Persisted controls: widgets that know where in the settings store their state lives.
//
// Each persisted control carries a section (a key path relative to the base key handed to the
// whole-window operations) and a value name. SaveRegControls and LoadRegControls walk every
// persisted control of a window in the order the controls were created and save or load each
// according to its kind; every value is stored as text. SaveToolbarLayout and LoadToolbarLayout
// keep the visibility and dock position of the window's toolbars.
//
// Every whole-window and toolbar-layout operation runs in one store transaction: when it fails,
// the store keeps exactly what it held before and the error propagates to the caller.
#pragma once

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStringList>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdint>
#include <functional>

class QButtonGroup;
class QToolBar;

namespace quelmark {

class TRegIniFile;

// What every persisted control shares: its place in the store, its creation sequence and how
// it moves its state to and from an accessor opened on the base key.
class TRegControl {
public:
    TRegControl();
    virtual ~TRegControl() = default;
    Q_DISABLE_COPY(TRegControl)

    const QString &RegSection() const { return m_regSection; }
    void SetRegSection(const QString &section) { m_regSection = section; }
    const QString &RegKeyword() const { return m_regKeyword; }
    void SetRegKeyword(const QString &keyword) { m_regKeyword = keyword; }

    // Returns the position of this control in the program-wide creation order.
    std::uint64_t CreationSequence() const { return m_sequence; }

    // Writes the control's state through an accessor opened on basePath.
    virtual void SaveTo(TRegIniFile &ini, const QString &basePath) = 0;
    // Reads the control's state through an accessor opened on basePath.
    virtual void LoadFrom(TRegIniFile &ini, const QString &basePath) = 0;
    // Tells whether a load runs even when the section or value name is empty.
    virtual bool LoadsWithoutNames() const { return true; }

private:
    QString m_regSection;
    QString m_regKeyword;
    std::uint64_t m_sequence = 0;
};

// Returns the persisted controls inside window (the window itself included), in creation order.
QList<TRegControl *> PersistedControls(QWidget *window);

// Saves every persisted control of window whose section and value name are both set.
void SaveRegControls(QWidget *window, const QString &basePath);
// Loads every persisted control of window; the list kind only when both names are set.
void LoadRegControls(QWidget *window, const QString &basePath);

// Stores visibility and dock position of every toolbar of window, one section per toolbar.
void SaveToolbarLayout(QWidget *window, const QString &basePath);
// Restores what SaveToolbarLayout stored; docks that no longer exist are ignored.
void LoadToolbarLayout(QWidget *window, const QString &basePath);

// Single-line text box; stores its text.
class TRegEdit : public QLineEdit, public TRegControl {
    Q_OBJECT
public:
    explicit TRegEdit(QWidget *parent = nullptr);
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
};

// The shown site's password box: stores its text as TRegEdit does, or, while the password is in
// the desktop keyring, an empty text and PasswordInKeyring. The keyring itself is asked by the
// catalogue, outside the store's transactions.
class TRegPasswordEdit : public TRegEdit {
    Q_OBJECT
public:
    explicit TRegPasswordEdit(QWidget *parent = nullptr);
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;

    // The password is kept in the desktop keyring.
    bool InKeyring = false;
    // Why the keyring could not give the password; a password typed into the box ends it.
    QString Problem;
};

// Masked text box; stores its text like TRegEdit.
class TRegMaskEdit : public TRegEdit {
    Q_OBJECT
public:
    using TRegEdit::TRegEdit;
};

// Check box; stores its checked state as "1" or "0", or as one of two texts given to it.
class TRegCheckBox : public QCheckBox, public TRegControl {
    Q_OBJECT
public:
    explicit TRegCheckBox(QWidget *parent = nullptr) : TRegCheckBox(QString(), parent) {}
    explicit TRegCheckBox(const QString &text, QWidget *parent = nullptr);
    // Stores off or on instead of "0" or "1", and loads either without regard to case. Any other
    // stored text (written by hand or by a later version) loads as unchecked and is kept, and
    // stored back, until the box is checked or unchecked.
    void SetStoredTexts(const QString &off, const QString &on);
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
    // Returns the text SaveTo stores: on or off, or the kept text.
    QString RegText() const;
    // Shows a stored text as LoadFrom does.
    void SetRegText(const QString &text);

private:
    QString m_offText;
    QString m_onText;
    QString m_keptText;
};

// A button that stores its checked state as "1" or "0"; made for QRadioButton and QToolButton.
template <typename Button> class TRegCheckedButton : public Button, public TRegControl {
public:
    using Button::Button;
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
};

// Radio button.
class TRegRadioButton : public TRegCheckedButton<QRadioButton> {
    Q_OBJECT
public:
    using TRegCheckedButton::TRegCheckedButton;
};

// Checkable tool button; stores whether it is pressed.
class TRegSpeedButton : public TRegCheckedButton<QToolButton> {
    Q_OBJECT
public:
    explicit TRegSpeedButton(QWidget *parent = nullptr);
};

// Integer spin box whose text is free: the value is the text read as a number (decimal, or
// hexadecimal after "$", "0x" or "0X"), the minimum when the text is not a number, always kept
// inside [Minimum, Maximum]. The text is clamped when a value is set and when the box loses
// the focus; the arrows step by SingleStep.
class TRegSpinEdit : public QAbstractSpinBox, public TRegControl {
    Q_OBJECT
public:
    explicit TRegSpinEdit(QWidget *parent = nullptr);

    std::int32_t Value() const;
    void SetValue(std::int32_t value);
    // Replaces the text as typing would: no clamping until a value is set or the focus leaves.
    void SetText(const QString &text) { lineEdit()->setText(text); }
    void SetRange(std::int32_t minimum, std::int32_t maximum);
    std::int32_t Minimum() const { return m_minimum; }
    std::int32_t Maximum() const { return m_maximum; }
    void SetSingleStep(std::int32_t step) { m_singleStep = step; }
    std::int32_t SingleStep() const { return m_singleStep; }

    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;

    void stepBy(int steps) override;
    // Wide enough for the longest number of the range, the arrows beside it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    std::int32_t Clamped(std::int64_t value) const;

    std::int32_t m_minimum = 0;
    std::int32_t m_maximum = 100;
    std::int32_t m_singleStep = 1;
};

// Whether a list control stores its selected index; off unless set.
class TRegIndexChoice {
public:
    bool RegSaveIndex() const { return m_regSaveIndex; }
    void SetRegSaveIndex(bool saveIndex) { m_regSaveIndex = saveIndex; }

protected:
    bool m_regSaveIndex = false;
};

// Drop-down box; stores its selected index (with RegSaveIndex) or its text. A drop-down that
// offers fixed items and loads a text none of them has (written by hand or by a later
// version) selects nothing and keeps that text, storing it back until the user picks an item.
class TRegComboBox : public QComboBox, public TRegControl, public TRegIndexChoice {
    Q_OBJECT
public:
    explicit TRegComboBox(QWidget *parent = nullptr);
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
    // Returns the text SaveTo stores: the current text, or the kept text while nothing is
    // selected.
    QString RegText() const;
    // Shows text as a load does: an editable box takes it, a box of fixed items selects the item
    // of that text or, when none has it, selects nothing and keeps the text.
    void SetRegText(const QString &text);

private:
    QString m_keptText;
};

// List box; stores its selected row, and only with RegSaveIndex.
class TRegListBox : public QListWidget, public TRegControl, public TRegIndexChoice {
    Q_OBJECT
public:
    explicit TRegListBox(QWidget *parent = nullptr);
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
};

// Group of radio buttons made from a list of captions; stores the selected index (-1: none).
class TRegRadioGroup : public QGroupBox, public TRegControl {
    Q_OBJECT
public:
    explicit TRegRadioGroup(QWidget *parent = nullptr) : TRegRadioGroup(QString(), parent) {}
    explicit TRegRadioGroup(const QString &title, QWidget *parent = nullptr);

    void SetItems(const QStringList &captions);
    int ItemIndex() const;
    void SetItemIndex(int index);

    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;

private:
    QButtonGroup *m_buttons = nullptr;
};

// Multi-line text; stores not its text but its colours and font, as eight values whose names
// begin with RegKeyword. Colours are kept as 0x00BBGGRR numbers.
class TRegMemo : public QPlainTextEdit, public TRegControl {
    Q_OBJECT
public:
    explicit TRegMemo(QWidget *parent = nullptr);
    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
};

// Converts between a colour and its stored 0x00BBGGRR number.
std::int32_t ColorToNumber(const QColor &color);
QColor NumberToColor(std::int32_t number);

// One row of a TRegListView: a caption (the first column) and a list of column texts, which
// may be shorter than the list's columns or empty, plus three stored marks.
class TListRow : public QTreeWidgetItem {
public:
    static constexpr int Type = QTreeWidgetItem::UserType + 1;
    TListRow();

    QString Caption() const { return text(0); }
    void SetCaption(const QString &caption) { setText(0, caption); }

    const QStringList &SubItems() const { return m_subItems; }
    void SetSubItems(const QStringList &texts);
    // Returns column text k, or an empty text when the row holds fewer texts.
    QString SubItem(int k) const;
    // Sets column text k, appending empty texts first when the row holds fewer.
    void SetSubItem(int k, const QString &text);
    void AppendSubItem(const QString &text);

    int ImageIndex() const { return m_imageIndex; }
    void SetImageIndex(int index) { m_imageIndex = index; }
    int StateIndex() const { return m_stateIndex; }
    void SetStateIndex(int index) { m_stateIndex = index; }
    bool Checked() const { return m_checked; }
    void SetChecked(bool checked) { m_checked = checked; }

    // The tooltip is its list's RowToolTip for the row, when that gives one.
    QVariant data(int column, int role) const override;

private:
    QStringList m_subItems;
    int m_imageIndex = 0;
    int m_stateIndex = -1;
    bool m_checked = false;
};

// List in report form whose rows live in a subtree of the store: RegSection\RegKeyword holds
// one "Item#" key per row.
class TRegListView : public QTreeWidget, public TRegControl {
    Q_OBJECT
public:
    explicit TRegListView(QWidget *parent = nullptr);

    // Sets the column headers: the first is the caption's, the others the column texts'.
    void SetColumns(const QStringList &headers, const QList<int> &widths);

    int RowCount() const { return topLevelItemCount(); }
    TListRow *Row(int index) const;
    TListRow *AddRow();
    void RemoveRow(TListRow *row);
    void ClearRows() { clear(); }
    QList<TListRow *> SelectedRows() const;

    void SaveTo(TRegIniFile &ini, const QString &basePath) override;
    void LoadFrom(TRegIniFile &ini, const QString &basePath) override;
    bool LoadsWithoutNames() const override { return false; }

    // Gives a row's tooltip, asked each time it is shown; an empty text gives none.
    std::function<QString(const TListRow &row)> RowToolTip;

private:
    QString SiteKeyPath(const QString &basePath) const;
};

} // namespace quelmark
