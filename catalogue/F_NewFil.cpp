#include "catalogue/F_NewFil.h"

#include "base/Exception.h"
#include "catalogue/DialogParts.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/Icons.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quelmark {

namespace {

QToolButton *IconButton(const char *name, const char *hint, TPicture picture)
{
    auto *button = Named(new QToolButton, name);
    button->setToolTip(QString::fromLatin1(hint));
    button->setIcon(Picture(picture));
    button->setAutoRaise(true);
    return button;
}

} // namespace

TfrmAddNewFile::TfrmAddNewFile(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAddNewFile"));
    CreateControls();
    ConnectHandlers();
    MakeFixedDialog(this);
}

QStringList TfrmAddNewFile::BrowseFilters()
{
    // Patterns separated by blanks, as the chooser reads them; "*" stands for every file name,
    // dotted or not.
    return {QStringLiteral("html, htm files (*.html *.htm)"), QStringLiteral("Text Files (*.txt)"),
            QStringLiteral("All Files (*)")};
}

void TfrmAddNewFile::CreateControls()
{
    const TOkCancel buttons = MakeOkCancel(this);
    btnOK = buttons.ok;
    btnCancel = buttons.cancel;
    auto *column = new QVBoxLayout(this);
    column->addLayout(CreateFields());
    column->addLayout(buttons.row);
    SetTabChain({edtLocalFileName, btnBrowseForAFile, edtHostFullName, cboFileType, edtParameterToReplace,
                 btnClearIPParameter, btnSetIPParamToDefault, cboFileStatus, btnOK, btnCancel});
}

QLayout *TfrmAddNewFile::CreateFields()
{
    edtLocalFileName = Named(new QLineEdit, "edtLocalFileName");
    edtLocalFileName->setMinimumWidth(300);
    btnBrowseForAFile = IconButton("btnBrowseForAFile", "Browse for a file...", TPicture::Browse);
    // Hidden in "Multi Edit", yet its room stays, so the dialog keeps one size in every mode.
    QSizePolicy keepRoom = btnBrowseForAFile->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    btnBrowseForAFile->setSizePolicy(keepRoom);
    edtHostFullName = Named(new QLineEdit, "edtHostFullName");
    cboFileType = Named(new QComboBox, "cboFileType");
    cboFileType->addItems(FileType::All);
    edtParameterToReplace = Named(new QLineEdit, "edtParameterToReplace");
    btnClearIPParameter = IconButton("btnClearIPParameter", "Clear IP replacement parameter", TPicture::Clear);
    btnSetIPParamToDefault = IconButton("btnSetIPParamToDefault", "Set to default IP parameter", TPicture::Default);
    cboFileStatus = Named(new QComboBox, "cboFileStatus");
    cboFileStatus->addItems(FileStatus::All);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Local File Name:")), 0, 0);
    grid->addWidget(edtLocalFileName, 0, 1, 1, 3);
    grid->addWidget(btnBrowseForAFile, 0, 4);
    grid->addWidget(new QLabel(QStringLiteral("Host Full File Name:")), 1, 0);
    grid->addWidget(edtHostFullName, 1, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("File Type:")), 2, 0);
    grid->addWidget(cboFileType, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("IP Parameter to replace:")), 3, 0);
    grid->addWidget(edtParameterToReplace, 3, 1);
    grid->addWidget(btnClearIPParameter, 3, 2);
    grid->addWidget(btnSetIPParamToDefault, 3, 3);
    grid->addWidget(new QLabel(QStringLiteral("Clear the IP Parameter to not perform a replacement.")), 4, 1, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("File Status:")), 5, 0);
    grid->addWidget(cboFileStatus, 5, 1);
    return grid;
}

void TfrmAddNewFile::ConnectHandlers()
{
    connect(btnOK, &QPushButton::clicked, this, GuardedHandler([this] { btnOKClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, GuardedHandler([this] { btnCancelClick(); }));
    connect(btnBrowseForAFile, &QToolButton::clicked, this, GuardedHandler([this] { btnBrowseForAFileClick(); }));
    connect(btnClearIPParameter, &QToolButton::clicked, this, GuardedHandler([this] { btnClearIPParameterClick(); }));
    connect(btnSetIPParamToDefault, &QToolButton::clicked, this,
            GuardedHandler([this] { btnSetIPParamToDefaultClick(); }));
    connect(cboFileType, &QComboBox::currentIndexChanged, this, GuardedHandler([this] { cboFileTypeChange(); }));
    connect(cboFileStatus, &QComboBox::currentIndexChanged, this, GuardedHandler([this] { cboFileTypeChange(); }));
    connect(edtParameterToReplace, &QLineEdit::textEdited, this, [this] { m_ipParameterChanged = true; });
    connect(edtLocalFileName, &QLineEdit::textChanged, this, &TfrmAddNewFile::ProposeHostName);
}

// As a drop names a file's host copy: the default directory and the file's name. A host name
// the user typed stays.
void TfrmAddNewFile::ProposeHostName(const QString &localFile)
{
    if (!m_proposing || edtHostFullName->text() != m_proposedHost)
        return;
    const QString name = localFile.mid(localFile.lastIndexOf(QLatin1Char('/')) + 1);
    m_proposedHost = name.isEmpty() ? QString() : m_hostDir + name;
    edtHostFullName->setText(m_proposedHost);
}

int TfrmAddNewFile::RunFileDialog(const QString &caption, TEditMode mode, const QString &defaultParam,
                                  TFileEntry &entry, TEntryRefusal refusal)
{
    setWindowTitle(caption);
    m_proposing = false;
    edtLocalFileName->setText(entry.localFile);
    edtHostFullName->setText(entry.hostFileName);
    m_proposedHost = entry.hostFileName;
    m_proposing = mode == TEditMode::New && m_hostDirGiven;
    SelectComboItem(cboFileType, entry.fileType);
    SelectComboItem(cboFileStatus, entry.status);
    edtParameterToReplace->setText(entry.ipParameter);
    DefaultParam = defaultParam;
    EditMode = mode;
    SetModeAppearance();
    m_refusal = std::move(refusal);
    m_ipParameterChanged = false;

    const int result = exec();
    m_refusal = nullptr;
    m_proposing = false;
    m_hostDirGiven = false;
    if (result == QDialog::Accepted) {
        const TFileEntry typed = TypedEntry();
        entry.localFile = typed.localFile;
        entry.hostFileName = typed.hostFileName;
        entry.fileType = typed.fileType;
        entry.ipParameter = typed.ipParameter;
        entry.status = typed.status;
    }
    return result;
}

TFileEntry TfrmAddNewFile::TypedEntry() const
{
    return {.localFile = edtLocalFileName->text(),
            .hostFileName = edtHostFullName->text(),
            .fileType = cboFileType->currentText(),
            .ipParameter = edtParameterToReplace->text(),
            .status = cboFileStatus->currentText()};
}

void TfrmAddNewFile::SetModeAppearance()
{
    const bool single = EditMode != TEditMode::MultiEdit;
    btnBrowseForAFile->setVisible(single);
    SetEditEnabled(edtLocalFileName, single);
    SetEditEnabled(edtHostFullName, single);
}

void TfrmAddNewFile::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
    Guarded([this] {
        FormActivate();
        FocusFirstField();
    });
}

void TfrmAddNewFile::FocusFirstField()
{
    // The dialog is reused: without this the focus would wait wherever the last use left it.
    if (edtLocalFileName->isEnabled())
        edtLocalFileName->setFocus();
    else
        cboFileType->setFocus();
}

void TfrmAddNewFile::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Guarded([this] { FormActivate(); });
}

void TfrmAddNewFile::FormActivate()
{
    cboFileTypeChange();
}

void TfrmAddNewFile::cboFileTypeChange()
{
    // The parameter is kept for a binary entry, only out of reach: it is not substituted.
    SetEditEnabled(edtParameterToReplace, cboFileType->currentText() != FileType::Binary);
}

void TfrmAddNewFile::btnBrowseForAFileClick()
{
    const QString path = TFileDialogs::GetOpenFileName(this, QStringLiteral("Browse for a file..."), BrowseFilters());
    if (!path.isEmpty())
        edtLocalFileName->setText(path);
}

void TfrmAddNewFile::btnClearIPParameterClick()
{
    edtParameterToReplace->clear();
    m_ipParameterChanged = true;
}

void TfrmAddNewFile::btnSetIPParamToDefaultClick()
{
    edtParameterToReplace->setText(DefaultParam);
    m_ipParameterChanged = true;
}

void TfrmAddNewFile::btnOKClick()
{
    if (EditMode == TEditMode::New && edtLocalFileName->text().isEmpty()) {
        TMessageBox::Refuse(this, QStringLiteral("Please enter a local file name..."), edtLocalFileName);
        return;
    }
    // Without a host file name the server refuses every upload of the entry.
    if (EditMode != TEditMode::MultiEdit && edtHostFullName->text().trimmed().isEmpty()) {
        TMessageBox::Refuse(this, QStringLiteral("Please enter a host file name..."), edtHostFullName);
        return;
    }
    const QString refusal = m_refusal ? m_refusal(TypedEntry()) : QString();
    if (!refusal.isEmpty()) {
        TMessageBox::Refuse(this, refusal, edtLocalFileName);
        return;
    }
    // A page may be added before it is written, but a mistyped path would only show as the
    // entry's error at its first push.
    const QString local = edtLocalFileName->text();
    if (EditMode == TEditMode::New && !QFileInfo::exists(local) &&
        TMessageBox::Confirm(this, MissingFileQuestion(local)) != TMessageBox::TAnswer::Yes) {
        edtLocalFileName->setFocus();
        return;
    }
    accept();
}

QString TfrmAddNewFile::MissingFileQuestion(const QString &localFile)
{
    return QStringLiteral("The local file %1 does not exist. Add it anyway?").arg(localFile);
}

void TfrmAddNewFile::ProposeHostNamesIn(const QString &dir)
{
    m_hostDir = dir;
    m_hostDirGiven = true;
}

void TfrmAddNewFile::btnCancelClick()
{
    reject();
}

} // namespace quelmark
