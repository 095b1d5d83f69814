// The upload copy of a page: the local file's lines, the first occurrence of the IP parameter in
// each replaced by the machine's address, written with CR LF after every line to a private
// file that replaces the one at the copy's path.
//
// The copy is made in one pass through one buffer: the page is read a block at a time and each
// block's lines go out as soon as they are substituted, so making the copy of a page of any size
// holds no more than a block of it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QFile;
class QIODevice;
class QTemporaryFile;

namespace quelmark {

// Splits file bytes into lines; CR LF, LF and CR alone each end a line, and a last line
// without an ending still counts. Lines are never decoded.
QList<QByteArray> SplitLines(const QByteArray &bytes);

// Replaces, in each line, the first occurrence of parameter (exact bytes, letter case
// included) by address; further occurrences and the inserted address are left alone. An
// empty parameter changes nothing.
void ReplaceIPParam(QList<QByteArray> &lines, const QByteArray &parameter, const QByteArray &address);

// Returns the default temporary upload file: QUELMARK.$$$ in the per-user cache folder.
QString DefaultUploadCopyPath();

// The substitution of SplitLines and ReplaceIPParam, done on a page handed over in blocks of
// any size: the bytes that come out are the substituted lines, each followed by CR LF.
class TPageSubstitution {
public:
    // Receives each line as the page has it and as the copy has it.
    using TLineHandler = std::function<void(const QByteArray &local, const QByteArray &host)>;

    // Replaces parameter by address; with onLine set, also hands every whole line to it.
    TPageSubstitution(QByteArray parameter, QByteArray address, TLineHandler onLine = {});

    // Substitutes the page's next size bytes at data and appends the copy's bytes to out.
    // Returns how many of the bytes it took: all of them when last is set (the page ends with
    // them), otherwise all but at most the parameter's length minus one at the end, which may
    // begin an occurrence of the parameter; the caller hands those again, followed by the
    // page's next bytes.
    qsizetype Take(const char *data, qsizetype size, bool last, QByteArray &out);

private:
    void Emit(const char *data, qsizetype size, QByteArray &out);
    void EmitAddress(QByteArray &out);
    void EndLine(QByteArray &out);

    QByteArray m_parameter;
    QByteArray m_address;
    TLineHandler m_onLine;
    // False for an empty parameter or one with a line break, which no line can hold.
    bool m_searching;
    // The current line has had its parameter replaced.
    bool m_replaced = false;
    // The current line holds bytes; only such a line counts at the end of the page.
    bool m_lineOpen = false;
    // The last block ended with CR: a LF at the start of the next one belongs to it.
    bool m_afterCR = false;
    QByteArray m_localLine;
    QByteArray m_hostLine;
};

// The copy being written: a fresh private file (mode 0600) beside path, opened at the first
// write, which Commit renames over path, so that a file or a link already there is replaced and
// never written through. The default cache folder is created (mode 0700) when missing. A copy
// that is not committed leaves no file behind.
class TUploadCopyFile {
public:
    explicit TUploadCopyFile(QString path);
    ~TUploadCopyFile();
    Q_DISABLE_COPY(TUploadCopyFile)

    // Appends bytes to the copy; a failure is kept for Commit.
    void Write(const QByteArray &bytes);
    // Puts the copy in place at path. Raises Exception "Cannot create file <path>" when any
    // step of making it failed.
    void Commit();

private:
    bool Open();

    QString m_path;
    std::unique_ptr<QTemporaryFile> m_file;
    bool m_failed = false;
};

// Writes lines with CR LF after each as the copy at path (see TUploadCopyFile). Raises
// Exception "Cannot create file <path>" on failure.
void WriteUploadCopy(const QList<QByteArray> &lines, const QString &path);

// Reads the open page block by block to its end through substitution into copy, without
// committing the copy. Returns false, with the reader's reason in reason, when the page cannot
// be read to its end.
bool SubstitutePage(QIODevice &page, TPageSubstitution &substitution, TUploadCopyFile &copy, QString &reason);

// Opens the page at path for SubstitutePage; returns false, with the reason, when it cannot.
bool OpenPage(QFile &page, QString &reason);

} // namespace quelmark
