#include "tests/support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quelmark::test {

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString Written(const QString &path, const QByteArray &bytes)
{
    if (!WriteFile(path, bytes))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

QByteArray ReadFile(const QString &path, const QByteArray &missing)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

int FileMode(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return static_cast<int>(status.st_mode & 07777);
}

QByteArray Pattern(qint64 size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + (i >> 11) * 7) & 0xFF);
    return bytes;
}

bool RunProgram(const QString &program, const QStringList &arguments, QByteArray *output, const QByteArray &input)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted())
        return false;
    p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(15000);
    if (output)
        *output = p.readAll();
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace quelmark::test
