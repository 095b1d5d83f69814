// Takes the screenshots of the window that the README and the closing notes show: the real main
// window on a real display (run it under Xvfb: scripts/window-pictures), driven from inside, and the
// whole screen grabbed, so message boxes and tool windows are in the picture too.
//
//   quelmark_window_pictures FOLDER
//
// writes general-options-800x600.png, general-options-maximised.png, trust-question.png, and after
// the question was answered No: failed-push-row.png and failed-push-site.png (the site page with
// the status bar and the tooltip of the failed row, then of the site's node), web-sites.png (the
// list of the sites) and test-connection.png (the site page's connection test).
#include "app/F_Main.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "tests/support/FtpServers.h"
#include "tests/support/StoreScript.h"
#include "tests/support/TempStore.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

using namespace quelmark;

namespace {

void Settle(int ms = 300)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Shoot(const QString &folder, const QString &name)
{
    Settle();
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    const bool saved = screen.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// A window without a window manager around it is placed by the program alone.
void Place(TfrmMain &window, const QRect &geometry)
{
    window.setGeometry(geometry);
    Settle();
}

void GeneralOptions(const QString &folder)
{
    TfrmMain window;
    window.show();
    Place(window, QRect(40, 40, 800, 600));
    Shoot(folder, QStringLiteral("general-options-800x600"));
    window.showMaximized();
    Place(window, QGuiApplication::primaryScreen()->availableGeometry());
    Shoot(folder, QStringLiteral("general-options-maximised"));
    window.close();
}

// Shows the tooltip of an item of view, as a pause of the mouse over it does.
void ShowTip(QTreeWidget *view, QTreeWidgetItem *item, int column)
{
    const QRect place = view->visualItemRect(item);
    const QPoint at = view->viewport()->mapToGlobal(QPoint(place.left() + 40, place.center().y()));
    QCursor::setPos(at);
    QToolTip::showText(at, item->toolTip(column), view->viewport());
}

// The site page after the push that the question ended, then the list of the sites and a
// connection test.
void FailedPush(const QString &folder, TfrmMain &window)
{
    auto *list = window.findChild<QTreeWidget *>(QStringLiteral("lvFileDetails"));
    ShowTip(list, list->topLevelItem(0), 4);
    Shoot(folder, QStringLiteral("failed-push-row"));
    QToolTip::hideText();
    ShowTip(window.Navigator(), window.Navigator()->SiteNodes().value(0), 0);
    Shoot(folder, QStringLiteral("failed-push-site"));
    QToolTip::hideText();
    window.Navigator()->SelectNode(window.Navigator()->WebSitesNode);
    Shoot(folder, QStringLiteral("web-sites"));
    window.Navigator()->SelectNode(window.Navigator()->SiteNodes().value(0));
    // Answered No again: the line says why the log-in failed.
    QTimer::singleShot(1000, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    window.findChild<QPushButton *>(QStringLiteral("btnTestConnection"))->click();
    Shoot(folder, QStringLiteral("test-connection"));
}

void TrustQuestion(const QString &folder, const QString &store)
{
    test::PyFtpServer server(QStringLiteral("127.0.0.1"), 0, test::Certificates().selfSigned);
    if (!server.Running()) {
        std::printf("no TLS server: %s\n", qPrintable(server.Failure()));
        return;
    }
    const QString page = QDir(folder).filePath(QStringLiteral("page.html"));
    QFile file(page);
    if (file.open(QIODevice::WriteOnly))
        file.write("<p>at %IP%</p>\n");
    file.close();
    test::StoreScript script;
    const int site =
        script.Site(QStringLiteral("pages"), QStringLiteral("127.0.0.1:") + server.PortText(), server.User(),
                    server.Password(), {{page, "page.html", FileType::Ascii, "%IP%", FileStatus::New}});
    script.Value(site, store::Security, SiteSecurity::TLS);
    QDir().mkpath(QFileInfo(store).absolutePath());
    if (const QString failure = script.WriteTo(store); !failure.isEmpty()) {
        std::printf("no store: %s\n", qPrintable(failure));
        return;
    }
    TfrmMain window;
    window.show();
    Place(window, QRect(40, 40, 800, 600));
    window.Navigator()->SelectNode(window.Navigator()->SiteNodes().value(0));
    // The question is modal: it is photographed from inside its own loop, then answered No.
    QTimer::singleShot(1500, [folder] {
        Shoot(folder, QStringLiteral("trust-question"));
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    window.findChild<QAction *>(QStringLiteral("mniPushSite"))->trigger();
    Settle();
    FailedPush(folder, window);
    window.close();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelmark_window_pictures FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    {
        test::TempStore store;
        GeneralOptions(folder);
    }
    {
        test::TempStore store;
        TrustQuestion(folder, store.FilePath());
    }
    return 0;
}
