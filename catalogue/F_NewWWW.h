// The dialog that asks for a new web site: server, the site's name, user name, password,
// default directory and the site's options.
//
// Made once and reused, it opens empty every time, its options at the choice a new site
// proposes; the site's name follows the server text until the user types a name of their own.
// OK refuses an empty server name, a server text that names no usable host and port, an empty
// site name, and whatever Refusal names, with the dialog kept open with what was typed, and
// tidies the default directory before it closes.
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

    // Returns the site typed in, named as "Site name:" says.
    TSite Site() const;

    void btnOKClick();
    void btnCancelClick();

    // Returns why OK must refuse the site as typed (a name in use, say), or an empty text.
    std::function<QString(const TSite &site)> Refusal;

    QLineEdit *edtFTPServer = nullptr;
    QLineEdit *edtSiteName = nullptr;
    QLineEdit *edtUserName = nullptr;
    QLineEdit *edtPassword = nullptr;
    QLineEdit *edtDefaultHostDir = nullptr;
    // "Passive mode", ..., "Key file:", as plain controls.
    TSiteOptionControls &Options() const { return *m_options; }
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateControls();
    void Clear();
    void FollowServer(const QString &server);
    bool RefuseServer();

    std::unique_ptr<TSiteOptionControls> m_options;
    // The server text the site name last followed.
    QString m_followedServer;
};

} // namespace quelmark
