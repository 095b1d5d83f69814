// The real program's window, run headless exactly as the program runs it (store lock, handover
// socket, first show with the stored options), and driven from inside once it shows:
//
//   bench_window idle SECONDS shown|minimised|hidden
//       the refresh timer on and nothing due; after a few seconds the window is left shown,
//       minimised or hidden (as in the tray), and the CPU the process uses over SECONDS is
//       printed: "cpu_seconds wall_seconds"
//   bench_window pushes HOST PORT USER PASSWORD COUNT [emptied-log]
//       one site with one page carrying %IP%, changed before every push, pushed COUNT times with
//       the window's Push All; prints the resident memory after 10 pushes and after COUNT, in
//       KiB, and the log's lines at both: "rss_after_10 rss_after_count lines_10 lines_count".
//       With emptied-log the activity log is emptied after every push, which leaves out the
//       memory of its lines, kept by design for the whole run.
//
// The store lives in a folder of its own (XDG_CONFIG_HOME and XDG_CACHE_HOME are set to it).
#include "app/CommandLine.h"
#include "app/F_Main.h"
#include "app/WindowHolder.h"
#include "base/QtMessages.h"
#include "catalogue/Catalogue.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "engine/ActivityLog.h"
#include "engine/EngineView.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using namespace quelmark;

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double WallSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The resident memory of this process in KiB, as the kernel counts it.
long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

TfrmMain *MainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<TfrmMain *>(widget))
            return window;
    return nullptr;
}

QAction *Action(TfrmMain &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

// Runs the window as the program does; first runs at once after it shows.
int RunTheWindow(const std::function<void()> &first)
{
    QTimer::singleShot(0, qApp, first);
    return RunWindow(TCommandLine{});
}

int Idle(double seconds, const QString &state)
{
    {
        TRegIniFile ini(BaseKeyPath());
        ini.WriteText(store::GeneralOptions, store::Autoprocess, QStringLiteral("1"));
    }
    CloseStore();
    double cpu = 0;
    double wall = 0;
    bool ready = false;
    const int status = RunTheWindow([&] {
        TfrmMain *window = MainWindow();
        if (!window || window->RefreshCycle().Tag() != 1) {
            std::fprintf(stderr, "the window did not start its timer\n");
            QApplication::exit(1);
            return;
        }
        // Start-up's own work settles first.
        QTimer::singleShot(3000, window, [&, window] {
            if (state == QLatin1String("minimised"))
                window->showMinimized();
            else if (state == QLatin1String("hidden"))
                window->hide();
            cpu = ProcessCpuSeconds();
            wall = WallSeconds();
            QTimer::singleShot(static_cast<int>(seconds * 1000), window, [&, window] {
                cpu = ProcessCpuSeconds() - cpu;
                wall = WallSeconds() - wall;
                ready = true;
                Action(*window, "mniFileExit")->trigger();
            });
        });
    });
    if (status != 0 || !ready)
        return status != 0 ? status : 1;
    std::printf("%.4f %.4f\n", cpu, wall);
    return 0;
}

int Pushes(const QString &host, const QString &port, const QString &user, const QString &password, int count,
           bool emptyLog, const QString &folder)
{
    const QString page = folder + QStringLiteral("/page.html");
    {
        QFile file(page);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray bytes;
        for (int i = 0; i < 100; ++i)
            bytes += "<p>Reach this machine at <a href=\"http://%IP%/\">its address</a>.</p>\r\n";
        file.write(bytes);
    }
    {
        TRegIniFile ini(BaseKeyPath());
        const QString site = store::SiteSection(QStringLiteral("bench"));
        ini.WriteText(site, store::FTPServer, host + QLatin1Char(':') + port);
        ini.WriteText(site, store::UserName, user);
        ini.WriteText(site, store::Password, password);
        const QString item = site + QLatin1Char('\\') + store::ItemSection(0);
        ini.WriteText(item, store::Caption, page);
        const QStringList columns{QStringLiteral("bench.html"),
                                  FileType::Ascii,
                                  QStringLiteral("%IP%"),
                                  FileStatus::New,
                                  QString(),
                                  QString(),
                                  QString()};
        for (int k = 0; k < columns.size(); ++k)
            ini.WriteText(item, store::SublineName(k), columns[k]);
    }
    CloseStore();
    long after10 = -1;
    long afterAll = -1;
    std::int64_t lines10 = -1;
    std::int64_t linesAll = -1;
    int failed = 0;
    const int status = RunTheWindow([&] {
        TfrmMain *window = MainWindow();
        if (!window) {
            QApplication::exit(1);
            return;
        }
        const QByteArray path = QFile::encodeName(page);
        for (int i = 1; i <= count && failed == 0; ++i) {
            // A new last-write time each time makes the page due: its date text changes.
            const timespec times[2] = {{1700000000 + i, 0}, {1700000000 + i, 0}};
            ::utimensat(AT_FDCWD, path.constData(), times, 0);
            Action(*window, "mniPushAll")->trigger();
            const TListRow *row = window->Catalogue().Shown().lvFileDetails->Row(0);
            if (!row || row->SubItem(colStatus) != FileStatus::Moved) {
                ++failed;
                const QStringList lines = window->EngineView().Log().Area()->Lines();
                for (const QString &line : lines.mid(std::max<qsizetype>(0, lines.size() - 8)))
                    std::fprintf(stderr, "%s\n", qPrintable(line));
            }
            TTextArea &log = *window->EngineView().Log().Area();
            if (i == 10) {
                after10 = ResidentKiB();
                lines10 = log.LineCount();
            }
            if (emptyLog)
                log.ClearLines();
        }
        afterAll = ResidentKiB();
        linesAll = window->EngineView().Log().Area()->LineCount();
        Action(*window, "mniFileExit")->trigger();
    });
    if (failed > 0) {
        std::fprintf(stderr, "a push failed; its entry did not become Moved\n");
        return 1;
    }
    if (status != 0)
        return status;
    std::printf("%ld %ld %lld %lld\n", after10, afterAll, static_cast<long long>(lines10),
                static_cast<long long>(linesAll));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    InstallQuietMessageHandler();
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder.filePath(QStringLiteral("cache"))));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("idle"))
        return Idle(args[2].toDouble(), args[3]);
    if ((args.size() == 7 || (args.size() == 8 && args[7] == QLatin1String("emptied-log"))) &&
        args[1] == QLatin1String("pushes"))
        return Pushes(args[2], args[3], args[4], args[5], args[6].toInt(), args.size() == 8, folder.path());
    std::fprintf(stderr, "usage: bench_window idle SECONDS shown|minimised|hidden\n"
                         "       bench_window pushes HOST PORT USER PASSWORD COUNT [emptied-log]\n");
    return 2;
}
