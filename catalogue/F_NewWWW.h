// The dialog that asks for a new web site: server, user name, password, default directory and
// the site's options.
//
// Made once and reused, so its fields keep what was typed the time before; the options start
// at the choice a new site proposes. OK refuses an empty server name, a server text that names
// no usable host and port, and whatever Refusal names, with the dialog kept open with what was
// typed, and tidies the default directory before it closes.
#pragma once

#include "catalogue/P_Types.h"
#include "catalogue/SiteOptions.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLineEdit;
class QPushButton;

namespace quelmark {

class TfrmAddNewWebSite : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAddNewWebSite(QWidget *parent = nullptr);
    ~TfrmAddNewWebSite() override;

    // Returns the site typed in: named after its FTP server, as a new site is.
    TSite Site() const;

    void btnOKClick();
    void btnCancelClick();

    // Returns why OK must refuse the site as typed (a name in use, say), or an empty text.
    std::function<QString(const TSite &site)> Refusal;

    QLineEdit *edtFTPServer = nullptr;
    QLineEdit *edtUserName = nullptr;
    QLineEdit *edtPassword = nullptr;
    QLineEdit *edtDefaultHostDir = nullptr;
    // "Passive mode", ..., "Retries:", as plain controls.
    TSiteOptionControls &Options() const { return *m_options; }
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateControls();
    bool RefuseServer();

    std::unique_ptr<TSiteOptionControls> m_options;
};

} // namespace quelmark
