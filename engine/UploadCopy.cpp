#include "engine/UploadCopy.h"

#include "base/Exception.h"
#include "base/Printable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace quelmark {

namespace {

// The page is read in blocks of this size: large enough that the calls per block cost nothing
// beside the copying, small enough to stay in the processor's cache.
constexpr qsizetype kBlockSize = 256 * 1024;

QString DefaultCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

// Creates the default cache folder, private to the user, when the copy goes there and the
// folder is missing; any other folder must exist already.
void PrepareFolder(const QString &folder)
{
    if (QFileInfo::exists(folder) || QDir::cleanPath(folder) != QDir::cleanPath(DefaultCacheFolder()))
        return;
    if (QDir().mkpath(folder))
        ::chmod(QFile::encodeName(folder).constData(), 0700);
}

// The position of the first c at or after from in data, or size when there is none. Kept
// between calls in next (-1 before the first), so that every byte is searched once however many
// lines lie before the one found.
qsizetype NextOf(char c, const char *data, qsizetype from, qsizetype size, qsizetype &next)
{
    if (next < from) {
        const void *found = std::memchr(data + from, c, static_cast<std::size_t>(size - from));
        next = found ? static_cast<const char *>(found) - data : size;
    }
    return next;
}

} // namespace

QList<QByteArray> SplitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(bytes.mid(start));
    return lines;
}

void ReplaceIPParam(QList<QByteArray> &lines, const QByteArray &parameter, const QByteArray &address)
{
    if (parameter.isEmpty())
        return;
    for (QByteArray &line : lines) {
        const qsizetype at = line.indexOf(parameter);
        if (at >= 0)
            line.replace(at, parameter.size(), address);
    }
}

QString DefaultUploadCopyPath()
{
    return DefaultCacheFolder() + QStringLiteral("/QUELMARK.$$$");
}

// ---- substitution -------------------------------------------------------------------------

TPageSubstitution::TPageSubstitution(QByteArray parameter, QByteArray address, TLineHandler onLine)
    : m_parameter(std::move(parameter)), m_address(std::move(address)), m_onLine(std::move(onLine)),
      m_searching(!m_parameter.isEmpty() && !m_parameter.contains('\r') && !m_parameter.contains('\n'))
{
}

void TPageSubstitution::Emit(const char *data, qsizetype size, QByteArray &out)
{
    if (size == 0)
        return;
    m_lineOpen = true;
    out.append(data, size);
    if (m_onLine) {
        m_localLine.append(data, size);
        m_hostLine.append(data, size);
    }
}

void TPageSubstitution::EmitAddress(QByteArray &out)
{
    m_lineOpen = true;
    m_replaced = true;
    out.append(m_address);
    if (m_onLine) {
        m_localLine.append(m_parameter);
        m_hostLine.append(m_address);
    }
}

void TPageSubstitution::EndLine(QByteArray &out)
{
    out.append("\r\n", 2);
    if (m_onLine) {
        m_onLine(m_localLine, m_hostLine);
        m_localLine.clear();
        m_hostLine.clear();
    }
    m_replaced = false;
    m_lineOpen = false;
}

qsizetype TPageSubstitution::Take(const char *data, qsizetype size, bool last, QByteArray &out)
{
    qsizetype at = 0;
    if (m_afterCR && at < size) {
        m_afterCR = false;
        if (data[at] == '\n')
            ++at;
    }
    // Where the next CR, LF and parameter lie (size for none); searched again only once passed.
    qsizetype nextCR = -1;
    qsizetype nextLF = -1;
    qsizetype nextParameter = -1;
    const qsizetype parameterSize = m_parameter.size();
    while (at < size) {
        const qsizetype lineEnd = std::min(NextOf('\r', data, at, size, nextCR), NextOf('\n', data, at, size, nextLF));
        if (m_searching && !m_replaced) {
            if (nextParameter < at) {
                const void *found = memmem(data + at, static_cast<std::size_t>(size - at), m_parameter.constData(),
                                           static_cast<std::size_t>(parameterSize));
                nextParameter = found ? static_cast<const char *>(found) - data : size;
            }
            // A parameter holds no line break, so one found before the line's end lies within it.
            if (nextParameter < lineEnd) {
                Emit(data + at, nextParameter - at, out);
                EmitAddress(out);
                at = nextParameter + parameterSize;
            } else if (lineEnd == size && !last) {
                // The block's last bytes may begin an occurrence that the next block completes.
                const qsizetype kept = std::max(at, size - (parameterSize - 1));
                Emit(data + at, kept - at, out);
                return kept;
            }
        }
        Emit(data + at, lineEnd - at, out);
        if (lineEnd == size)
            break;
        EndLine(out);
        at = lineEnd + 1;
        if (data[lineEnd] == '\r') {
            if (at == size)
                m_afterCR = true;
            else if (data[at] == '\n')
                ++at;
        }
    }
    if (last && m_lineOpen)
        EndLine(out);
    return size;
}

// ---- the copy's file ----------------------------------------------------------------------

TUploadCopyFile::TUploadCopyFile(QString path) : m_path(std::move(path)) {}

TUploadCopyFile::~TUploadCopyFile() = default;

bool TUploadCopyFile::Open()
{
    if (m_file || m_failed)
        return !m_failed;
    const QString folder = QFileInfo(m_path).absolutePath();
    PrepareFolder(folder);
    // A fresh file (O_EXCL, mode 0600) renamed over the target: rename() replaces a link
    // planted at the path instead of writing to where it points, unlike QSaveFile.
    m_file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.quelmark-XXXXXX"));
    m_failed = !m_file->open();
    return !m_failed;
}

void TUploadCopyFile::Write(const QByteArray &bytes)
{
    if (bytes.isEmpty() || !Open())
        return;
    m_failed = m_file->write(bytes) != bytes.size();
}

void TUploadCopyFile::Commit()
{
    bool ok = Open() && m_file->flush() && ::fchmod(m_file->handle(), 0600) == 0;
    ok = ok &&
         std::rename(QFile::encodeName(m_file->fileName()).constData(), QFile::encodeName(m_path).constData()) == 0;
    if (!ok) {
        m_failed = true;
        throw Exception(QStringLiteral("Cannot create file %1").arg(PrintableText(m_path)));
    }
    m_file->setAutoRemove(false);
}

void WriteUploadCopy(const QList<QByteArray> &lines, const QString &path)
{
    TUploadCopyFile copy(path);
    QByteArray block;
    for (const QByteArray &line : lines) {
        block += line;
        block += "\r\n";
        if (block.size() >= kBlockSize) {
            copy.Write(block);
            block.clear();
        }
    }
    copy.Write(block);
    copy.Commit();
}

bool OpenPage(QFile &page, QString &reason)
{
    // Unbuffered: the blocks are read straight into the substitution's buffer.
    if (page.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return true;
    reason = page.errorString();
    return false;
}

bool SubstitutePage(QIODevice &page, TPageSubstitution &substitution, TUploadCopyFile &copy, QString &reason)
{
    // One block, and in front of it the few bytes the last one left over.
    QByteArray buffer(kBlockSize, Qt::Uninitialized);
    QByteArray out;
    out.reserve(kBlockSize + kBlockSize / 4);
    qsizetype kept = 0;
    for (;;) {
        if (buffer.size() - kept < kBlockSize / 2)
            buffer.resize(kept + kBlockSize);
        const qint64 read = page.read(buffer.data() + kept, buffer.size() - kept);
        if (read < 0) {
            reason = page.errorString();
            return false;
        }
        const bool last = read == 0;
        const qsizetype size = kept + read;
        const qsizetype taken = substitution.Take(buffer.constData(), size, last, out);
        copy.Write(out);
        // Emptied, not cleared: the block's room is kept for the next one.
        out.resize(0);
        if (last)
            return true;
        kept = size - taken;
        std::memmove(buffer.data(), buffer.constData() + taken, static_cast<std::size_t>(kept));
    }
}

} // namespace quelmark
