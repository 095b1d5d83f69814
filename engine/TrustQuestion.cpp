#include "engine/TrustQuestion.h"

#include "base/Printable.h"

#include <QDateTime>
#include <QStringList>

namespace quelmark {

namespace {

constexpr int kPairsPerGroup = 4;
const QChar kNoBreakSpace(0x00A0);
const QChar kWordJoiner(0x2060);

QString FirstLine(const TCertificateProblem &problem, const QString &server)
{
    switch (problem.fault) {
    case TCertificateFault::SelfSigned:
        return QStringLiteral("The certificate of %1 is self-signed.").arg(server);
    case TCertificateFault::Expired:
        return QStringLiteral("The certificate of %1 has expired.").arg(server);
    case TCertificateFault::NotYetValid:
        return QStringLiteral("The certificate of %1 is not valid yet.").arg(server);
    case TCertificateFault::OtherName:
        return QStringLiteral("The certificate of %1 is for another name.").arg(server);
    case TCertificateFault::UnknownIssuer:
        return QStringLiteral("The certificate of %1 is signed by an authority this machine does not know.")
            .arg(server);
    case TCertificateFault::Other:
        break;
    }
    return QStringLiteral("The certificate of %1 is not trusted: %2.").arg(server, problem.reason);
}

QString DateText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral(" UTC")
                          : QStringLiteral("(unknown)");
}

} // namespace

QString GroupedFingerprint(const QString &fingerprint)
{
    const QStringList pairs = fingerprint.split(QLatin1Char(':'));
    QStringList groups;
    for (qsizetype i = 0; i < pairs.size(); i += kPairsPerGroup)
        groups.append(pairs.mid(i, kPairsPerGroup).join(QString(QLatin1Char(':')) + kWordJoiner));
    return groups.join(kNoBreakSpace);
}

QString CertificateTrustQuestion(const TCertificateProblem &problem, const QString &serverText, const QString &siteText)
{
    // The server's names and dates come from the server, the site's name from the store: shown,
    // never obeyed.
    TCertificateProblem shown = problem;
    shown.subject = PrintableText(problem.subject);
    shown.issuer = PrintableText(problem.issuer);
    shown.reason = PrintableText(problem.reason);
    const QString server = PrintableText(serverText);
    const QString site = PrintableText(siteText);
    const QStringList lines = {
        FirstLine(shown, server),
        QString(),
        QStringLiteral("Subject: ") + shown.subject,
        QStringLiteral("Issuer: ") + shown.issuer,
        QStringLiteral("Valid: %1 to %2").arg(DateText(problem.notBefore), DateText(problem.notAfter)),
        QStringLiteral("SHA-256:") + kNoBreakSpace + GroupedFingerprint(problem.fingerprint),
        QString(),
        QStringLiteral("Yes keeps it in \"Trusted certificate:\" of %1 and sends the file.").arg(site),
        QStringLiteral("No sends nothing; the file ends \"Error\"."),
        QString(),
        QStringLiteral("Trust this certificate for %1?").arg(site),
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace quelmark
