#include "net/NewAddressCommand.h"

#include "base/Printable.h"

#include <utility>

namespace quelmark {

namespace {

const QString kCommand = QStringLiteral("Command on a new address");
const QString kAddress = QStringLiteral("%IP%");
const QString kOldAddress = QStringLiteral("%OLDIP%");

QString Replaced(const QString &word, const QString &address, const QString &oldAddress)
{
    QString result;
    qsizetype at = 0;
    while (at < word.size()) {
        if (QStringView(word).mid(at).startsWith(kOldAddress)) {
            result += oldAddress;
            at += kOldAddress.size();
        } else if (QStringView(word).mid(at).startsWith(kAddress)) {
            result += address;
            at += kAddress.size();
        } else {
            result += word.at(at++);
        }
    }
    return result;
}

// The first line of the output, shown safely and cut short when long.
QString FirstLine(const QByteArray &output)
{
    const qsizetype end = output.indexOf('\n');
    QByteArray line = end < 0 ? output : output.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    const bool cut = line.size() > TNewAddressCommand::kMaxShownOutput;
    line.truncate(TNewAddressCommand::kMaxShownOutput);
    return PrintableBytes(line.trimmed()) + (cut ? QStringLiteral("...") : QString());
}

QString WithOutput(const QString &line, const QByteArray &output)
{
    const QString first = FirstLine(output);
    return first.isEmpty() ? line + QStringLiteral(" and printed nothing") : line + QStringLiteral(": ") + first;
}

} // namespace

QStringList NewAddressWords(const QStringList &words, const QString &address, const QString &oldAddress)
{
    QStringList result = words;
    for (qsizetype i = 1; i < result.size(); ++i)
        result[i] = Replaced(result[i], address, oldAddress);
    return result;
}

QString NewAddressCommandOutcome(TCaptureEnd end, int status, const QByteArray &output, int timeoutMs)
{
    switch (end) {
    case TCaptureEnd::Exited:
        return WithOutput(kCommand + QStringLiteral(" ended with exit status %1").arg(status), output);
    case TCaptureEnd::Signalled:
        return WithOutput(kCommand + QStringLiteral(" was ended by signal %1").arg(status), output);
    case TCaptureEnd::TimedOut:
        return WithOutput(kCommand + QStringLiteral(" did not end within %1 s and was killed").arg(timeoutMs / 1000),
                          output);
    case TCaptureEnd::Idle:
    case TCaptureEnd::Running:
        break;
    }
    return kCommand + QStringLiteral(" has not ended");
}

TNewAddressCommand::TNewAddressCommand(QObject *owner) : QObject(owner), m_capture(new TCommandCapture(this))
{
    m_capture->OnFinished = [this](QObject *) { Finished(); };
}

TNewAddressCommand::~TNewAddressCommand() = default;

void TNewAddressCommand::Run(const QString &commandLine, const QString &address, const QString &oldAddress)
{
    const TPending run{commandLine, address, oldAddress};
    if (Running())
        m_waiting = run;
    else
        StartNow(run);
}

void TNewAddressCommand::StartNow(const TPending &run)
{
    QString why;
    const std::optional<QStringList> words = TCommandCapture::Words(run.commandLine, why);
    if (words && m_capture->StartWords(NewAddressWords(*words, run.address, run.oldAddress), m_timeoutMs))
        return;
    Report(kCommand + QStringLiteral(" could not be started: ") + (words ? m_capture->StartError() : why));
}

void TNewAddressCommand::Finished()
{
    Report(NewAddressCommandOutcome(m_capture->End(), m_capture->Status(), m_capture->Output(), m_timeoutMs));
    if (m_waiting)
        StartNow(*std::exchange(m_waiting, std::nullopt));
}

void TNewAddressCommand::Report(const QString &line)
{
    const TReport handler = OnReport;
    if (handler)
        handler(this, line);
}

} // namespace quelmark
