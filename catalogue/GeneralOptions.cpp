#include "catalogue/GeneralOptions.h"

#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"

namespace quelmark {

namespace {

TRegEdit *OptionEdit(QWidget *parent, const char *name, const QString &storeName, const QString &initial)
{
    auto *edit = Named(new TRegEdit(parent), name);
    edit->SetRegSection(store::GeneralOptions);
    edit->SetRegKeyword(storeName);
    edit->setText(initial);
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
    if (editable)
        choice->setCurrentIndex(-1);
    return choice;
}

} // namespace

TGeneralOptions::TGeneralOptions(QWidget *parent, const QString &tempFileName)
{
    chkAutoProcess = OptionCheck(parent, "chkAutoProcess", store::Autoprocess, "Auto-process");
    spnTestFilesMinutes = Named(new TRegSpinEdit(parent), "spnTestFilesMinutes");
    spnTestFilesMinutes->SetRegSection(store::GeneralOptions);
    spnTestFilesMinutes->SetRegKeyword(store::MinsTestFiles);
    spnTestFilesMinutes->SetRange(1, 7200);
    spnTestFilesMinutes->SetSingleStep(5);
    spnTestFilesMinutes->SetValue(10);
    chkDetailedLogging = OptionCheck(parent, "chkDetailedLogging", store::DetailedLogging, "Detailed Logging");
    edtTempFileName = OptionEdit(parent, "edtTempFileName", store::TempFileName, tempFileName);
    edtDefaultIPParam = OptionEdit(parent, "edtDefaultIPParam", store::DefaultIPParam, QStringLiteral("%IP%"));
    chkTimeStampLog = OptionCheck(parent, "chkTimeStampLog", store::TimeStampLog, "Timestamp Log Entries");
    edtLastIPAddress = OptionEdit(parent, "edtLastIPAddress", store::LastIPAddress, QString());
    edtRedialCommand =
        OptionEdit(parent, "edtRedialCommand", store::RedialCommand, QStringLiteral("rasphone -d ricochet"));
    chkAutoReconnect = OptionCheck(parent, "chkAutoReconnect", store::AutoReconnect, "Auto-reconnect");
    chkCloseToTray = OptionCheck(parent, "chkCloseToTray", store::CloseToTray, "Close to tray");
    cmbAddressSource = OptionChoice(parent, "cmbAddressSource", store::AddressSource, AddressFrom::All, false);
    cmbAddressInterface = OptionChoice(parent, "cmbAddressInterface", store::AddressInterface, {}, true);
    edtAddressURL = OptionEdit(parent, "edtAddressURL", store::AddressURL, QString());
    edtAddressCommand = OptionEdit(parent, "edtAddressCommand", store::AddressCommand, QString());
    cmbAddressFamily = OptionChoice(parent, "cmbAddressFamily", store::AddressFamily, IPVersion::All, false);
    chkReuseSession = OptionCheck(parent, "chkReuseSession", store::ReuseSession, "One FTP session per site");
    chkReuseSession->setChecked(true);
}

} // namespace quelmark
