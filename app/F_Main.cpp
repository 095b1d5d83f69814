#include "app/F_Main.h"

#include "catalogue/MessageBox.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "ftp/Dispatch.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QProxyStyle>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <cmath>

namespace quelmark {

namespace {

const QString kGeneralOptions = QStringLiteral("General Options");
const QString kWebSites = QStringLiteral("Web Sites");
const QString kBlank = QStringLiteral("Blank");
const char *const kPageTitle = "pageTitle";

// Shows a password as a row of "*", whatever the platform style would draw.
class TStarEchoStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

template <typename T>
T *Named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

TRegEdit *OptionEdit(const char *name, const char *keyword, const QString &initial)
{
    auto *edit = Named(new TRegEdit, name);
    edit->SetRegSection(kGeneralOptions);
    edit->SetRegKeyword(QString::fromLatin1(keyword));
    edit->setText(initial);
    return edit;
}

TRegCheckBox *OptionCheck(const char *name, const char *keyword, const char *caption)
{
    auto *check = Named(new TRegCheckBox(QString::fromLatin1(caption)), name);
    check->SetRegSection(kGeneralOptions);
    check->SetRegKeyword(QString::fromLatin1(keyword));
    return check;
}

QString DefaultTempFileName()
{
    // A per-user folder: a fixed folder that every user can write to would let another user
    // plant a file or link where the upload copy is written.
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/QUELMARK.$$$");
}

} // namespace

QString ApplicationTitle()
{
    return QStringLiteral("Varnholt Quelmark");
}

int CentredOffset(int outer, int inner)
{
    // lrint rounds a half to the even neighbour in the default rounding mode.
    const long offset = std::lrint((outer - inner) / 2.0);
    return offset < 1 ? 1 : static_cast<int>(offset);
}

QString CheckStoreAtStart()
{
    try {
        TStoreTransaction probe;
        probe.Commit();
    } catch (const Exception &error) {
        return error.Message();
    }
    return QString();
}

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(ApplicationTitle());
    InstallErrorDisplay();
    CreateDetailArea();
    CreateGeneralOptionsPage();
    CreateWebSitesPage();
    CreateBlankPage();
    CreateCatalogue();
    PlaceOnScreen();
}

void TfrmMain::PlaceOnScreen()
{
    resize(650, 476);
    if (const QScreen *display = screen())
        move(display->availableGeometry().center() - rect().center());
}

TfrmMain::~TfrmMain()
{
    SetTopLevelReporter(nullptr);
}

void TfrmMain::InstallErrorDisplay()
{
    SetTopLevelReporter([this](const QString &message) { TMessageBox::Critical(this, message); });
}

void TfrmMain::CreateDetailArea()
{
    nbDetail = Named(new QStackedWidget(this), "nbDetail");
    setCentralWidget(nbDetail);
}

QWidget *TfrmMain::AddPage(const QString &title)
{
    auto *page = new QWidget;
    page->setProperty(kPageTitle, title);
    nbDetail->addWidget(page);
    m_pages.insert(title, page);
    return page;
}

void TfrmMain::CreateGeneralOptionsPage()
{
    QWidget *page = AddPage(kGeneralOptions);
    pnlGeneralOptions = Named(new QWidget(page), "pnlGeneralOptions");
    pnlGeneralOptions->setFixedSize(381, 249);
    page->installEventFilter(this);

    // Created in the order in which the options are saved and loaded.
    chkAutoProcess = OptionCheck("chkAutoProcess", "Autoprocess", "Auto-process");
    spnTestFilesMinutes = Named(new TRegSpinEdit, "spnTestFilesMinutes");
    spnTestFilesMinutes->SetRegSection(kGeneralOptions);
    spnTestFilesMinutes->SetRegKeyword(QStringLiteral("MinsTestFiles"));
    spnTestFilesMinutes->SetRange(1, 7200);
    spnTestFilesMinutes->SetSingleStep(5);
    spnTestFilesMinutes->SetValue(10);
    chkDetailedLogging = OptionCheck("chkDetailedLogging", "DetailedLogging", "Detailed Logging");
    edtTempFileName = OptionEdit("edtTempFileName", "TempFileName", DefaultTempFileName());
    edtDefaultIPParam = OptionEdit("edtDefaultIPParam", "DefaultIPParam", QStringLiteral("%IP%"));
    chkTimeStampLog = OptionCheck("chkTimeStampLog", "TimeStampLog", "Timestamp Log Entries");
    edtLastIPAddress = OptionEdit("edtLastIPAddress", "LastIPAddress", QString());
    edtRedialCommand = OptionEdit("edtRedialCommand", "RedialCommand", QStringLiteral("rasphone -d ricochet"));
    chkAutoReconnect = OptionCheck("chkAutoReconnect", "AutoReconnect", "Auto-reconnect");

    auto *form = new QFormLayout(pnlGeneralOptions);
    form->addRow(chkAutoProcess);
    form->addRow(QStringLiteral("Test local files every (mins):"), spnTestFilesMinutes);
    form->addRow(chkDetailedLogging);
    form->addRow(chkTimeStampLog);
    form->addRow(QStringLiteral("Temp Local File:"), edtTempFileName);
    form->addRow(QStringLiteral("Default IP Param:"), edtDefaultIPParam);
    form->addRow(QStringLiteral("Last IP Address:"), edtLastIPAddress);
    form->addRow(QStringLiteral("Reconnect Cmd:"), edtRedialCommand);
    form->addRow(chkAutoReconnect);
}

void TfrmMain::CreateWebSitesPage()
{
    QWidget *page = AddPage(kWebSites);
    edtFTPServer = Named(new TRegEdit, "edtFTPServer");
    edtUserName = Named(new TRegEdit, "edtUserName");
    edtPassword = Named(new TRegEdit, "edtPassword");
    auto *starEcho = new TStarEchoStyle;
    starEcho->setParent(edtPassword);
    edtPassword->setStyle(starEcho);
    edtPassword->setEchoMode(QLineEdit::Password);
    edtDefaultDir = Named(new TRegEdit, "edtDefaultDir");
    lvFileDetails = Named(new TRegListView, "lvFileDetails");
    ConfigureFileList(lvFileDetails);

    auto *fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("FTP Server:")), 0, 0);
    fields->addWidget(edtFTPServer, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("User Name:")), 0, 2);
    fields->addWidget(edtUserName, 0, 3);
    fields->addWidget(new QLabel(QStringLiteral("Default Dir:")), 1, 0);
    fields->addWidget(edtDefaultDir, 1, 1);
    fields->addWidget(new QLabel(QStringLiteral("Password:")), 1, 2);
    fields->addWidget(edtPassword, 1, 3);

    auto *column = new QVBoxLayout(page);
    column->addLayout(fields);
    column->addWidget(Named(new QLabel(QStringLiteral("Files")), "lblFiles"));
    column->addWidget(lvFileDetails, 1);
}

void TfrmMain::CreateBlankPage()
{
    AddPage(kBlank);
}

void TfrmMain::CreateCatalogue()
{
    m_catalogue = std::make_unique<TCatalogue>(
        this, TSiteControls{lvFileDetails, edtFTPServer, edtUserName, edtPassword, edtDefaultDir});
}

void TfrmMain::ShowPage(const QString &title)
{
    if (QWidget *page = m_pages.value(title))
        nbDetail->setCurrentWidget(page);
}

QString TfrmMain::CurrentPageTitle() const
{
    QWidget *page = nbDetail->currentWidget();
    return page ? page->property(kPageTitle).toString() : QString();
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    Guarded([this] { FormShow(); });
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // A store that refuses the save is reported, yet the window still closes: refusing to
    // close would leave the user no way out but killing the program.
    Guarded([this] { FormClose(); });
    event->accept();
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && watched == m_pages.value(kGeneralOptions))
        Guarded([this] { FormResize(); });
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::FormShow()
{
    ShowPage(kBlank);
    LoadRegControls(this, BaseKeyPath());
    LoadToolbarLayout(this, BaseKeyPath());
    SelectGeneralOptions();
}

// Stands where the navigator's first selection will run: the shown site (none yet) and the
// general options are written back, and the options page is shown.
void TfrmMain::SelectGeneralOptions()
{
    m_catalogue->SaveCurrentSite();
    m_catalogue->SetCurrentSiteName(QString());
    ShowPage(kGeneralOptions);
}

void TfrmMain::FormClose()
{
    m_catalogue->SaveCurrentSite();
    SaveToolbarLayout(this, BaseKeyPath());
}

void TfrmMain::FormResize()
{
    const QWidget *page = m_pages.value(kGeneralOptions);
    pnlGeneralOptions->move(CentredOffset(page->width(), pnlGeneralOptions->width()),
                            CentredOffset(page->height(), pnlGeneralOptions->height()));
}

} // namespace quelmark
