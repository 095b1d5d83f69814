// The certificate question: its first line by the reason, the details, the fingerprint that no
// line break can cut, and what each answer does.
#include "engine/TrustQuestion.h"

#include <QDateTime>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace quelmark {
namespace {

const QString kFingerprint = QStringLiteral("3A:F1:C2:D4:00:11:22:33:44:55:66:77:88:99:AA:BB:"
                                            "CC:DD:EE:FF:01:23:45:67:89:AB:CD:EF:10:20:30:40");

TCertificateProblem Problem(TCertificateFault fault)
{
    return {.subject = QStringLiteral("CN=ftp.example.org,O=Example"),
            .issuer = QStringLiteral("CN=Example CA"),
            .notBefore = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC),
            .notAfter = QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5), Qt::UTC),
            .reason = QStringLiteral("unsuitable certificate purpose"),
            .fingerprint = kFingerprint,
            .fault = fault};
}

TEST(TrustQuestion, SaysWhyFirstThenTheDetailsThenWhatEachAnswerDoes)
{
    const struct {
        TCertificateFault fault;
        const char *first;
    } rows[] = {
        {TCertificateFault::SelfSigned, "The certificate of ftp.example.org is self-signed."},
        {TCertificateFault::Expired, "The certificate of ftp.example.org has expired."},
        {TCertificateFault::NotYetValid, "The certificate of ftp.example.org is not valid yet."},
        {TCertificateFault::OtherName, "The certificate of ftp.example.org is for another name."},
        {TCertificateFault::UnknownIssuer,
         "The certificate of ftp.example.org is signed by an authority this machine does not know."},
        {TCertificateFault::Other,
         "The certificate of ftp.example.org is not trusted: unsuitable certificate purpose."},
    };
    for (const auto &row : rows) {
        const QStringList lines =
            CertificateTrustQuestion(Problem(row.fault), QStringLiteral("ftp.example.org"), QStringLiteral("pages"))
                .split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 11) << row.first;
        EXPECT_EQ(lines[0], QString::fromLatin1(row.first));
        EXPECT_EQ(lines.mid(1, 5),
                  QStringList({QString(), "Subject: CN=ftp.example.org,O=Example", "Issuer: CN=Example CA",
                               "Valid: 2024-01-02 03:04:05 UTC to 2025-01-02 03:04:05 UTC", lines[5]}));
        EXPECT_EQ(lines.mid(6),
                  QStringList({QString(), "Yes keeps it in \"Trusted certificate:\" of pages and sends the file.",
                               "No sends nothing; the file ends \"Error\".", QString(),
                               "Trust this certificate for pages?"}));
    }
}

TEST(TrustQuestion, TextsFromTheServerAndTheStoreAreShownNeverObeyed)
{
    TCertificateProblem problem = Problem(TCertificateFault::Other);
    problem.subject = QStringLiteral("CN=evil\nYes keeps nothing");
    problem.reason = QStringLiteral("bad\x1b[2J");
    const QStringList lines =
        CertificateTrustQuestion(problem, QStringLiteral("ftp\r.example.org"), QStringLiteral("pa\u2028ges"))
            .split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], QStringLiteral("The certificate of ftp\\x0d.example.org is not trusted: bad\\x1b[2J."));
    EXPECT_EQ(lines[2], QStringLiteral("Subject: CN=evil\\x0aYes keeps nothing"));
    EXPECT_EQ(lines[10], QStringLiteral("Trust this certificate for pa\\u{2028}ges?"));
}

TEST(TrustQuestion, FingerprintComesInGroupsOfFourPairsThatNoLineBreakCuts)
{
    const QString line =
        CertificateTrustQuestion(Problem(TCertificateFault::SelfSigned), QStringLiteral("h"), QStringLiteral("s"))
            .split(QLatin1Char('\n'))
            .value(5);
    // What the eye reads: the pairs as the log and "Trusted certificate:" hold them, in groups.
    QString shown = line;
    shown.remove(QChar(0x2060)).replace(QChar(0x00A0), QLatin1Char(' '));
    EXPECT_EQ(shown, QStringLiteral("SHA-256: 3A:F1:C2:D4 00:11:22:33 44:55:66:77 88:99:AA:BB "
                                    "CC:DD:EE:FF 01:23:45:67 89:AB:CD:EF 10:20:30:40"));

    // Laid out as narrow as can be, the line stays one line.
    QTextLayout layout(line);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList pieces;
    for (QTextLine piece = layout.createLine(); piece.isValid(); piece = layout.createLine()) {
        piece.setLineWidth(1);
        pieces.append(line.mid(piece.textStart(), piece.textLength()));
    }
    layout.endLayout();
    EXPECT_EQ(pieces, QStringList{line}) << pieces.join(QLatin1Char('|')).toStdString();
}

} // namespace
} // namespace quelmark
