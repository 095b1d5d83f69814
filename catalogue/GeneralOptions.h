// The general options: the persisted controls of the "General Options" page, each tied to its
// value in the store's "General Options" section and holding its initial value.
//
// The window lays them out and hands what they show to the engine as one value (Get); the
// whole-window save and load move them to and from the store with everything else.
#pragma once

#include "catalogue/Settings.h"

class QWidget;

namespace quelmark {

class TRegCheckBox;
class TRegComboBox;
class TRegEdit;
class TRegSpinEdit;

class TGeneralOptions {
public:
    // Makes the option controls as children of parent, in the order they are stored, named as the
    // window's controls are ("chkAutoProcess", ...). tempFileName is the initial "Temp Local
    // File:".
    TGeneralOptions(QWidget *parent, const QString &tempFileName);
    Q_DISABLE_COPY(TGeneralOptions)

    // Returns the options the controls show: the number as the spin box holds it, the
    // drop-downs' texts as they would be stored.
    TOptions Get() const;
    // Shows the options.
    void Set(const TOptions &options);

    TRegCheckBox *chkAutoProcess = nullptr;
    TRegSpinEdit *spnTestFilesMinutes = nullptr;
    TRegCheckBox *chkDetailedLogging = nullptr;
    TRegEdit *edtTempFileName = nullptr;
    TRegEdit *edtDefaultIPParam = nullptr;
    TRegCheckBox *chkTimeStampLog = nullptr;
    TRegEdit *edtLastIPAddress = nullptr;
    TRegEdit *edtRedialCommand = nullptr;
    TRegCheckBox *chkAutoReconnect = nullptr;
    // "Close to tray": closing the window hides it in the system tray while the timer runs.
    TRegCheckBox *chkCloseToTray = nullptr;

    // Where the address written into pages comes from. "Address from:" offers the sources of
    // AddressFrom ("Local" at first); "Interface:" is editable and starts empty, the window
    // lists the machine's interfaces in it; "IP version:" offers IPv4 (at first) and IPv6.
    TRegComboBox *cmbAddressSource = nullptr;
    TRegComboBox *cmbAddressInterface = nullptr;
    TRegEdit *edtAddressURL = nullptr;
    TRegEdit *edtAddressCommand = nullptr;
    TRegComboBox *cmbAddressFamily = nullptr;

    // "One FTP session per site": the files of one site push go over one login.
    TRegCheckBox *chkReuseSession = nullptr;

    // "Push changes at once": while the timer runs, a new address and a saved page are pushed
    // within moments, not at the next check.
    TRegCheckBox *chkWatchChanges = nullptr;
    // "Command on a new address:": started after a push that a new address caused.
    TRegEdit *edtAddressChangedCommand = nullptr;
    // "Keep passwords in the desktop keyring": a site's password goes into the keyring when the
    // site is written back, and out of it again when unticked.
    TRegCheckBox *chkUseKeyring = nullptr;
};

} // namespace quelmark
