// The program's main window: the navigator's place on the left, the detail area on the right
// with its pages, and the window's part in start-up and shut-down.
#pragma once

#include "catalogue/Catalogue.h"

#include <QMainWindow>
#include <QMap>

#include <memory>

class QStackedWidget;

namespace quelmark {

class TRegCheckBox;
class TRegEdit;
class TRegListView;
class TRegSpinEdit;

// Returns the program's name, used as application title and window caption.
QString ApplicationTitle();

// Returns the offset that centres an inner extent in an outer one: half the difference,
// rounded to the nearest integer (a half to the even neighbour), at least 1.
int CentredOffset(int outer, int inner);

// Opens the settings store once; returns an empty text when it can be used, otherwise the
// message to show (it names the file). The file is never changed by a failed attempt.
QString CheckStoreAtStart();

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    TCatalogue &Catalogue() { return *m_catalogue; }

    // Shows the page of nbDetail with that title ("General Options", "Web Sites", "Blank").
    void ShowPage(const QString &title);
    // Returns the title of the page nbDetail shows.
    QString CurrentPageTitle() const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateDetailArea();
    void CreateGeneralOptionsPage();
    void CreateWebSitesPage();
    void CreateBlankPage();
    void CreateCatalogue();
    void PlaceOnScreen();
    void InstallErrorDisplay();
    QWidget *AddPage(const QString &title);

    void FormShow();
    void FormClose();
    void FormResize();
    void SelectGeneralOptions();

    QStackedWidget *nbDetail = nullptr;
    QMap<QString, QWidget *> m_pages;

    QWidget *pnlGeneralOptions = nullptr;
    TRegCheckBox *chkAutoProcess = nullptr;
    TRegSpinEdit *spnTestFilesMinutes = nullptr;
    TRegCheckBox *chkDetailedLogging = nullptr;
    TRegEdit *edtTempFileName = nullptr;
    TRegEdit *edtDefaultIPParam = nullptr;
    TRegCheckBox *chkTimeStampLog = nullptr;
    TRegEdit *edtLastIPAddress = nullptr;
    TRegEdit *edtRedialCommand = nullptr;
    TRegCheckBox *chkAutoReconnect = nullptr;

    TRegEdit *edtFTPServer = nullptr;
    TRegEdit *edtUserName = nullptr;
    TRegEdit *edtPassword = nullptr;
    TRegEdit *edtDefaultDir = nullptr;
    TRegListView *lvFileDetails = nullptr;

    std::unique_ptr<TCatalogue> m_catalogue;
    bool m_shownOnce = false;
};

} // namespace quelmark
