#include "tests/support/PushFixture.h"

#include "catalogue/Registry.h"

#include <QLayout>

namespace quelmark::test {

PushWindow::PushWindow()
{
    QWidget *w = window.get();
    edtLastIPAddress->SetRegSection(store::GeneralOptions);
    edtLastIPAddress->SetRegKeyword(store::LastIPAddress);
    edtLastIPAddress->setText(localAddress);
    edtLocalAddress->setText(localAddress);

    nbDetail = new QStackedWidget(w);
    for (const QString &title : {pages::GeneralOptions, pages::WebSites, pages::LogFiles, pages::Blank}) {
        auto *page = new QWidget;
        nbDetail->addWidget(page);
        this->pages.insert(title, page);
    }
    w->layout()->addWidget(nbDetail);
    pnlDetailTitle = new QLabel(w);
    fileDrag = new TFileDrag(w);
    catalogue = std::make_unique<TCatalogue>(w, this->pages.value(pages::WebSites));
    navigator = new TNavigator({nbDetail, pages, pnlDetailTitle, catalogue.get(), fileDrag}, w);

    const TAddressLookup counted = [this] {
        ++lookups;
        return lookup ? lookup() : localAddress;
    };
    const TPushControls controls{
        .mainWindow = w,
        .catalogue = catalogue.get(),
        .navigator = navigator,
        .nbDetail = nbDetail,
        .webSitesPage = this->pages.value(pages::WebSites),
        .pnlDetailTitle = pnlDetailTitle,
        .transfer = transfer.get(),
        .log = log.get(),
        .edtLocalAddress = edtLocalAddress,
        .edtLastIPAddress = edtLastIPAddress,
    };
    push = std::make_unique<TPushCommands>(controls, counted);

    spnTestFilesMinutes = new TRegSpinEdit(w);
    spnTestFilesMinutes->SetRange(1, 7200);
    spnTestFilesMinutes->SetValue(10);
    chkAutoReconnect = new TRegCheckBox(QStringLiteral("Auto-reconnect"), w);
    edtRedialCommand = new TRegEdit(w);
    toolbar = new QToolBar(w);
    btnStartStop = toolbar->addAction(QString());
    toolbar->addAction(QStringLiteral("after"));

    const TRefreshControls refresh{
        .spnTestFilesMinutes = spnTestFilesMinutes,
        .chkAutoReconnect = chkAutoReconnect,
        .edtRedialCommand = edtRedialCommand,
        .edtLocalAddress = edtLocalAddress,
        .edtLastIPAddress = edtLastIPAddress,
        .btnStartStop = btnStartStop,
        .toolbar = toolbar,
        .log = log.get(),
        .push = push.get(),
    };
    cycle = new TRefreshCycle(refresh, counted, w);
}

PushWindow::~PushWindow()
{
    delete cycle;
    push.reset();
}

void PushWindow::StoreSite(const QString &name, const QString &user, const QString &password,
                           const QList<EntryTexts> &entries)
{
    TShownSite &shown = Shown();
    shown.lvFileDetails->ClearRows();
    for (const EntryTexts &entry : entries) {
        TListRow *row = shown.lvFileDetails->AddRow();
        row->SetCaption(entry.localFile);
        row->SetSubItems(entry.columns);
    }
    shown.SetSite({.server = QStringLiteral("127.0.0.1"), .user = user, .password = password});
    catalogue->SetCurrentSiteName(name);
    catalogue->SaveCurrentSite();
    catalogue->SetCurrentSiteName(QString());
    shown.lvFileDetails->ClearRows();
    shown.SetSite({});
}

TNavigatorNode *PushWindow::SiteNode(const QString &name) const
{
    for (TNavigatorNode *node : navigator->SiteNodes()) {
        if (node->text(0) == name)
            return node;
    }
    return nullptr;
}

int PushWindow::LogCount(const QString &line) const
{
    return static_cast<int>(LogLines().count(line));
}

QString PushWindow::Stored(const QString &siteName, int row, int column) const
{
    TRegIniFile ini(BaseKeyPath() + '\\' + store::SiteSection(siteName));
    return ini.ReadText(store::ItemSection(row), store::SublineName(column), QStringLiteral("?"));
}

} // namespace quelmark::test
