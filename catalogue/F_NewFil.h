// The dialog that adds one file entry or edits one or several.
//
// Made once and reused. RunFileDialog fills it for one use, shows it modally and hands back
// the five texts of an entry the dialog edits when the user presses OK. In "Multi Edit" the local and host
// file names are out of reach, since they cannot be shared by several entries.
#pragma once

#include "catalogue/P_Types.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLineEdit;
class QToolButton;
class QPushButton;

namespace quelmark {

enum class TEditMode { New, SingleEdit, MultiEdit };

// Returns why the dialog must refuse an entry as typed, or an empty text to let it through.
using TEntryRefusal = std::function<QString(const TFileEntry &entry)>;

class TfrmAddNewFile : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAddNewFile(QWidget *parent = nullptr);

    // Shows the dialog with caption, mode and default IP parameter, starting from entry's local
    // file, host file name, type, IP parameter and status. Returns QDialog::Accepted or
    // QDialog::Rejected; those five are written back only on OK, the others never. OK refuses,
    // with a message and the dialog kept open with what was typed, an empty local file in
    // "New", an empty host file name in "New" and "Single Edit", and whatever refusal names; in
    // "New" it asks before it takes a local file that does not exist.
    int RunFileDialog(const QString &caption, TEditMode mode, const QString &defaultParam, TFileEntry &entry,
                      TEntryRefusal refusal = {});

    // Tells whether the user changed the IP parameter during the last use (typed in it, cleared
    // it or set it to the default): in "Multi Edit" an untouched field means "leave alone".
    bool IPParameterChanged() const { return m_ipParameterChanged; }

    // Makes the next use in "New" propose the host file name as a drop names it: dir followed
    // by the local file's name, for as long as the user has not typed a host file name.
    void ProposeHostNamesIn(const QString &dir);

    // Returns the filters the file chooser offers, the first one selected.
    static QStringList BrowseFilters();
    // Returns the question OK asks in "New" when the local file does not exist.
    static QString MissingFileQuestion(const QString &localFile);

    void btnOKClick();
    void btnCancelClick();
    void btnBrowseForAFileClick();
    void cboFileTypeChange();
    void FormActivate();
    void btnClearIPParameterClick();
    void btnSetIPParamToDefaultClick();

    TEditMode EditMode = TEditMode::New;
    QString DefaultParam;

    QLineEdit *edtLocalFileName = nullptr;
    QToolButton *btnBrowseForAFile = nullptr;
    QLineEdit *edtHostFullName = nullptr;
    QComboBox *cboFileType = nullptr;
    QLineEdit *edtParameterToReplace = nullptr;
    QToolButton *btnClearIPParameter = nullptr;
    QToolButton *btnSetIPParamToDefault = nullptr;
    QComboBox *cboFileStatus = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void CreateControls();
    QLayout *CreateFields();
    void ConnectHandlers();
    void SetModeAppearance();
    void FocusFirstField();
    void ProposeHostName(const QString &localFile);
    TFileEntry TypedEntry() const;

    TEntryRefusal m_refusal;
    bool m_ipParameterChanged = false;
    // The host file name proposal of the running use, in "New" only.
    QString m_hostDir;
    bool m_hostDirGiven = false;
    bool m_proposing = false;
    QString m_proposedHost;
};

} // namespace quelmark
