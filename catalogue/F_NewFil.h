// The dialog that adds one file entry or edits one or several.
//
// Made once and reused. RunFileDialog fills it for one use, shows it modally and hands back
// the five texts of an entry the dialog edits when the user presses OK. In "Multi Edit" the local and host
// file names are out of reach, since they cannot be shared by several entries.
#pragma once

#include "catalogue/P_Types.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QToolButton;
class QPushButton;

namespace quelmark {

enum class TEditMode { New, SingleEdit, MultiEdit };

class TfrmAddNewFile : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAddNewFile(QWidget *parent = nullptr);

    // Shows the dialog with caption, mode and default IP parameter, starting from entry's local
    // file, host file name, type, IP parameter and status. Returns QDialog::Accepted or
    // QDialog::Rejected; those five are written back only on OK, the others never.
    int RunFileDialog(const QString &caption, TEditMode mode, const QString &defaultParam, TFileEntry &entry);

    // Returns the filters the file chooser offers, the first one selected.
    static QStringList BrowseFilters();

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
};

} // namespace quelmark
