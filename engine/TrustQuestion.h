// The question put to the user when a server's certificate fails the check: why, in one short
// line, the certificate's details below it, and what each answer does.
#pragma once

#include "net/TlsSession.h"

#include <QString>

namespace quelmark {

// Returns the question for the certificate of server (the host the site's server text names)
// on behalf of site:
//
//   The certificate of <server> is self-signed.        (or: has expired, is for another name, ...)
//
//   Subject: ...
//   Issuer: ...
//   Valid: <from> to <to>
//   SHA-256: AB:CD:EF:01 23:45:67:89 ...               (groups of four pairs, one line that is
//                                                       never broken)
//
//   Yes keeps it in "Trusted certificate:" of <site> and sends the file.
//   No sends nothing; the file ends "Error".
//
//   Trust this certificate for <site>?
QString CertificateTrustQuestion(const TCertificateProblem &problem, const QString &server, const QString &site);

// Returns a fingerprint of hex pairs separated by ':' in groups of four pairs, the groups
// separated by no-break spaces and a word joiner after each ':', so that a text view never
// breaks a line inside it.
QString GroupedFingerprint(const QString &fingerprint);

} // namespace quelmark
