#include "catalogue/GeneralOptions.h"

#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"

namespace quelmark {

namespace {

TRegEdit *OptionEdit(QWidget *parent, const char *name, const QString &storeName)
{
    auto *edit = Named(new TRegEdit(parent), name);
    edit->SetRegSection(store::GeneralOptions);
    edit->SetRegKeyword(storeName);
    return edit;
}

TRegCheckBox *OptionCheck(QWidget *parent, const char *name, const QString &storeName, const char *caption)
{
    auto *check = Named(new TRegCheckBox(QString::fromLatin1(caption), parent), name);
    check->SetRegSection(store::GeneralOptions);
    check->SetRegKeyword(storeName);
    return check;
}

// A drop-down that stores its text; an editable one takes any text and starts empty.
TRegComboBox *OptionChoice(QWidget *parent, const char *name, const QString &storeName, const QStringList &items,
                           bool editable)
{
    auto *choice = Named(new TRegComboBox(parent), name);
    choice->SetRegSection(store::GeneralOptions);
    choice->SetRegKeyword(storeName);
    choice->setEditable(editable);
    if (editable)
        choice->setInsertPolicy(QComboBox::NoInsert);
    choice->addItems(items);
    return choice;
}

} // namespace

TGeneralOptions::TGeneralOptions(QWidget *parent, const QString &tempFileName)
{
    chkAutoProcess = OptionCheck(parent, "chkAutoProcess", store::Autoprocess, "Auto-process");
    spnTestFilesMinutes = Named(new TRegSpinEdit(parent), "spnTestFilesMinutes");
    spnTestFilesMinutes->SetRegSection(store::GeneralOptions);
    spnTestFilesMinutes->SetRegKeyword(store::MinsTestFiles);
    spnTestFilesMinutes->SetRange(kMinTestFilesMinutes, kMaxTestFilesMinutes);
    spnTestFilesMinutes->SetSingleStep(5);
    chkDetailedLogging = OptionCheck(parent, "chkDetailedLogging", store::DetailedLogging, "Detailed Logging");
    edtTempFileName = OptionEdit(parent, "edtTempFileName", store::TempFileName);
    edtDefaultIPParam = OptionEdit(parent, "edtDefaultIPParam", store::DefaultIPParam);
    chkTimeStampLog = OptionCheck(parent, "chkTimeStampLog", store::TimeStampLog, "Timestamp Log Entries");
    edtLastIPAddress = OptionEdit(parent, "edtLastIPAddress", store::LastIPAddress);
    edtRedialCommand = OptionEdit(parent, "edtRedialCommand", store::RedialCommand);
    chkAutoReconnect = OptionCheck(parent, "chkAutoReconnect", store::AutoReconnect, "Auto-reconnect");
    chkCloseToTray = OptionCheck(parent, "chkCloseToTray", store::CloseToTray, "Close to tray");
    cmbAddressSource = OptionChoice(parent, "cmbAddressSource", store::AddressSource, AddressFrom::All, false);
    cmbAddressInterface = OptionChoice(parent, "cmbAddressInterface", store::AddressInterface, {}, true);
    edtAddressURL = OptionEdit(parent, "edtAddressURL", store::AddressURL);
    edtAddressCommand = OptionEdit(parent, "edtAddressCommand", store::AddressCommand);
    cmbAddressFamily = OptionChoice(parent, "cmbAddressFamily", store::AddressFamily, IPVersion::All, false);
    chkReuseSession = OptionCheck(parent, "chkReuseSession", store::ReuseSession, "One FTP session per site");
    chkWatchChanges = OptionCheck(parent, "chkWatchChanges", store::WatchChanges, "Push changes at once");
    edtAddressChangedCommand = OptionEdit(parent, "edtAddressChangedCommand", store::AddressChangedCommand);
    chkUseKeyring = OptionCheck(parent, "chkUseKeyring", store::UseKeyring, "Keep passwords in the desktop keyring");
    Set(InitialOptions(tempFileName));
}

TOptions TGeneralOptions::Get() const
{
    return {
        .autoProcess = chkAutoProcess->isChecked(),
        // As typed: the box keeps its number inside its range only once the focus leaves it.
        .testFilesMinutes = TestFilesMinutes(spnTestFilesMinutes->text()),
        .detailedLogging = chkDetailedLogging->isChecked(),
        .tempFileName = edtTempFileName->text(),
        .defaultIPParam = edtDefaultIPParam->text(),
        .timeStampLog = chkTimeStampLog->isChecked(),
        .lastIPAddress = edtLastIPAddress->text(),
        .redialCommand = edtRedialCommand->text(),
        .autoReconnect = chkAutoReconnect->isChecked(),
        .closeToTray = chkCloseToTray->isChecked(),
        .addressSource = cmbAddressSource->RegText(),
        .addressInterface = cmbAddressInterface->RegText(),
        .addressURL = edtAddressURL->text(),
        .addressCommand = edtAddressCommand->text(),
        .addressFamily = cmbAddressFamily->RegText(),
        .reuseSession = chkReuseSession->isChecked(),
        .watchChanges = chkWatchChanges->isChecked(),
        .addressChangedCommand = edtAddressChangedCommand->text(),
        .useKeyring = chkUseKeyring->isChecked(),
    };
}

void TGeneralOptions::Set(const TOptions &options)
{
    chkAutoProcess->setChecked(options.autoProcess);
    spnTestFilesMinutes->SetValue(options.testFilesMinutes);
    chkDetailedLogging->setChecked(options.detailedLogging);
    edtTempFileName->setText(options.tempFileName);
    edtDefaultIPParam->setText(options.defaultIPParam);
    chkTimeStampLog->setChecked(options.timeStampLog);
    edtLastIPAddress->setText(options.lastIPAddress);
    edtRedialCommand->setText(options.redialCommand);
    chkAutoReconnect->setChecked(options.autoReconnect);
    chkCloseToTray->setChecked(options.closeToTray);
    cmbAddressSource->SetRegText(options.addressSource);
    cmbAddressInterface->SetRegText(options.addressInterface);
    edtAddressURL->setText(options.addressURL);
    edtAddressCommand->setText(options.addressCommand);
    cmbAddressFamily->SetRegText(options.addressFamily);
    chkReuseSession->setChecked(options.reuseSession);
    chkWatchChanges->setChecked(options.watchChanges);
    edtAddressChangedCommand->setText(options.addressChangedCommand);
    chkUseKeyring->setChecked(options.useKeyring);
}

} // namespace quelmark
