// Cost of change detection against the bare file-system call beneath it, and of making the
// substituted upload copy of a large page against a stream editor doing the same replacement.
#include "bench/BenchMain.h"
#include "catalogue/Catalogue.h"
#include "catalogue/RegControls.h"
#include "engine/ChangeDetection.h"
#include "engine/EngineView.h"
#include "engine/UploadCopy.h"
#include "net/Sockets.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

using namespace quelmark;

// A folder of small pages and a file list whose rows were just pushed.
struct PushedFolder {
    explicit PushedFolder(int count, const QString &ipParameter)
    {
        ConfigureFileList(&list);
        for (int i = 0; i < count; ++i) {
            const QString path = dir.filePath(QStringLiteral("page%1.html").arg(i));
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write("<p>%IP%</p>\n");
            f.close();
            // Times spread over three years, as a site's pages are: every date text differs.
            const std::time_t when = 1640995200 + (std::time_t(i) * 9973 * 3607) % (1096 * 86400);
            const timespec times[2] = {{when, 0}, {when, 0}};
            ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
            paths.push_back(QFile::encodeName(path));
            TListRow *row = list.AddRow();
            row->SetCaption(path);
            row->SetSubItems({QStringLiteral("/x.html"), FileType::Ascii, ipParameter, QString()});
            const TFileDetails details = CurrentFileDetails(path);
            SetRowStatus(*row, TFileStatus::Moved, &details);
        }
    }
    QTemporaryDir dir;
    TRegListView list;
    std::vector<QByteArray> paths;
};

void BM_FileNeedsPush_NoParameter_10000(benchmark::State &state)
{
    PushedFolder folder(10000, QString());
    const TAddressLookup lookup = [] { return QStringLiteral("10.0.0.1"); };
    int due = 0;
    for (auto _ : state)
        for (int i = 0; i < folder.list.RowCount(); ++i)
            due += FileNeedsPush(PushEntryOf(FileEntryOf(*folder.list.Row(i))), QStringLiteral("10.0.0.1"), lookup);
    benchmark::DoNotOptimize(due);
}
BENCHMARK(BM_FileNeedsPush_NoParameter_10000)->Unit(benchmark::kMillisecond);

void BM_BareStat_10000(benchmark::State &state)
{
    PushedFolder folder(10000, QString());
    long total = 0;
    for (auto _ : state)
        for (const QByteArray &path : folder.paths) {
            struct stat st {};
            ::stat(path.constData(), &st);
            total += st.st_size;
        }
    benchmark::DoNotOptimize(total);
}
BENCHMARK(BM_BareStat_10000)->Unit(benchmark::kMillisecond);

void BM_FileNeedsPush_WithParameter_1000(benchmark::State &state)
{
    PushedFolder folder(1000, QStringLiteral("%IP%"));
    TSockets sockets;
    const QString last = sockets.LocalIPAddress();
    const TAddressLookup lookup = [&sockets] { return sockets.LocalIPAddress(); };
    int due = 0;
    for (auto _ : state)
        for (int i = 0; i < folder.list.RowCount(); ++i)
            due += FileNeedsPush(PushEntryOf(FileEntryOf(*folder.list.Row(i))), last, lookup);
    benchmark::DoNotOptimize(due);
}
BENCHMARK(BM_FileNeedsPush_WithParameter_1000)->Unit(benchmark::kMillisecond);

// A 10 MB page of 80-byte lines, every tenth holding the parameter.
struct LargePage {
    LargePage()
    {
        QByteArray bytes;
        for (int i = 0; bytes.size() < 10 * 1000 * 1000; ++i)
            bytes += (i % 10 == 0 ? QByteArray("<a href=\"http://%IP%/\">home</a>") : QByteArray(32, 'x')) +
                     QByteArray(46, ' ') + "\r\n";
        source = dir.filePath(QStringLiteral("page.html"));
        copy = dir.filePath(QStringLiteral("copy.$$$"));
        QFile f(source);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    QTemporaryDir dir;
    QString source;
    QString copy;
};

// The upload copy as a transfer makes it, without the two pages that show its lines.
void BM_ReplaceAndWriteCopy_10MB(benchmark::State &state)
{
    LargePage page;
    for (auto _ : state) {
        QFile input(page.source);
        QString reason;
        TPageSubstitution substitution("%IP%", "1.2.3.4");
        TUploadCopyFile copy(page.copy);
        if (!OpenPage(input, reason) || !SubstitutePage(input, substitution, copy, reason))
            state.SkipWithError(reason.toUtf8().constData());
        copy.Commit();
    }
}
BENCHMARK(BM_ReplaceAndWriteCopy_10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The copy the way it was made before: the whole page read, split into lines, replaced line by
// line and written out.
void BM_ReplaceWholePageAndWriteCopy_10MB(benchmark::State &state)
{
    LargePage page;
    for (auto _ : state) {
        QFile f(page.source);
        f.open(QIODevice::ReadOnly);
        QList<QByteArray> lines = SplitLines(f.readAll());
        ReplaceIPParam(lines, "%IP%", "1.2.3.4");
        WriteUploadCopy(lines, page.copy);
    }
}
BENCHMARK(BM_ReplaceWholePageAndWriteCopy_10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SedReplace_10MB(benchmark::State &state)
{
    LargePage page;
    const QByteArray command =
        "sed 's/%IP%/1.2.3.4/' '" + QFile::encodeName(page.source) + "' > '" + QFile::encodeName(page.copy) + "'";
    for (auto _ : state)
        if (std::system(command.constData()) != 0)
            state.SkipWithError("sed failed");
}
BENCHMARK(BM_SedReplace_10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return quelmark::bench::RunBenchmarks(argc, argv);
}
