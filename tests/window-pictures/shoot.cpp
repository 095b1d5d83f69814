// Takes the screenshots of the window that the README and the closing notes show: the real main
// window on a real display (run it under Xvfb: scripts/window-pictures), driven from inside, and the
// whole screen grabbed, so message boxes and tool windows are in the picture too.
//
//   quelmark_window_pictures FOLDER
//
// writes general-options-800x600.png, general-options-maximised.png and trust-question.png.
#include "app/F_Main.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "tests/support/FtpServers.h"
#include "tests/support/StoreScript.h"
#include "tests/support/TempStore.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

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
