// Makes one upload copy of a page, as a transfer does, so that bench/run can read the peak
// memory of making it from the outside for pages of different sizes.
//
//   bench_pagecopy make PAGE MEGABYTES   writes a page of 80-byte lines, every tenth with %IP%
//   bench_pagecopy copy PAGE COPY        writes the copy of PAGE with %IP% replaced
#include "engine/UploadCopy.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

int MakePage(const QString &path, qint64 megabytes)
{
    QFile page(path);
    if (!page.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    const QByteArray link = QByteArray("<a href=\"http://%IP%/\">home</a>") + QByteArray(46, ' ') + "\r\n";
    const QByteArray text = QByteArray(32, 'x') + QByteArray(46, ' ') + "\r\n";
    QByteArray block;
    for (int i = 0; i < 10000; ++i)
        block += i % 10 == 0 ? link : text;
    const qint64 total = megabytes * 1000 * 1000;
    for (qint64 written = 0; written < total; written += block.size())
        if (page.write(block) != block.size())
            return 1;
    return 0;
}

int CopyPage(const QString &source, const QString &path)
{
    QFile page(source);
    QString reason;
    quelmark::TPageSubstitution substitution("%IP%", "1.2.3.4");
    quelmark::TUploadCopyFile copy(path);
    if (!quelmark::OpenPage(page, reason) || !quelmark::SubstitutePage(page, substitution, copy, reason)) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        return 1;
    }
    copy.Commit();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("make"))
        return MakePage(args[2], args[3].toLongLong());
    if (args.size() == 4 && args[1] == QLatin1String("copy"))
        return CopyPage(args[2], args[3]);
    std::fprintf(stderr, "usage: bench_pagecopy make PAGE MEGABYTES | copy PAGE COPY\n");
    return 2;
}
