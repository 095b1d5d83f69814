// A stand-in main window for engine tests: the controls and parts the push engine works with,
// wired the way the program wires them, with a short wait interval so time-outs take
// fractions of a second.
#pragma once

#include "catalogue/Catalogue.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/F_Prgrss.h"
#include "engine/TextArea.h"
#include "engine/Transfer.h"
#include "ftp/Ftpcli.h"
#include "ftp/Wait.h"

#include <QLineEdit>
#include <QStatusBar>
#include <QWidget>

#include <memory>

namespace quelmark::test {

class EngineWindow {
public:
    // waitIntervalMs is the wait control's tick; the client's time-out is 15 ticks.
    explicit EngineWindow(std::uint16_t waitIntervalMs = 100);
    ~EngineWindow();
    EngineWindow(const EngineWindow &) = delete;
    EngineWindow &operator=(const EngineWindow &) = delete;

    // Points site at an FTP server on loopback; the client uses port.
    void SetSite(std::uint16_t port, const QString &user, const QString &password);

    // The address the engine's look-up returns (a test can change it at any time).
    QString localAddress = QStringLiteral("10.20.30.40");

    std::unique_ptr<QWidget> window;
    TRegCheckBox *chkTimeStampLog = nullptr;
    TRegCheckBox *chkDetailedLogging = nullptr;
    TRegEdit *edtTempFileName = nullptr;
    TRegEdit *edtLastIPAddress = nullptr;
    QLineEdit *edtLocalAddress = nullptr;
    // The site a transfer test uploads to.
    TSite site;
    QStatusBar *statusBar = nullptr;
    TTextArea *memoLog = nullptr;
    TTextArea *memoLocalFile = nullptr;
    TTextArea *memoHostFile = nullptr;
    TWait *waitControl = nullptr;
    TFtpClient *ftpClient = nullptr;
    TfrmProgress *frmProgress = nullptr;
    std::unique_ptr<TActivityLog> log;
    std::unique_ptr<TTransfer> transfer;
};

} // namespace quelmark::test
