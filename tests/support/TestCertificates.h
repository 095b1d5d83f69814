// Certificates made by the tests with OpenSSL, once per test program, in a folder of their own
// that lives as long as the program: a throw-away CA, server certificates it signed (for
// "localhost", 127.0.0.1 and ::1; one that has expired; one for another host) and a
// self-signed one for "localhost". Each key is an EC P-256 key.
#pragma once

#include <QString>

namespace quelmark::test {

// PEM files of a server's certificate and key, and the certificate's SHA-256 fingerprint as hex
// pairs separated by ':' (worked out here from the certificate's DER bytes). An empty
// certificate means no TLS.
struct TestCertificate {
    QString certificate;
    QString key;
    QString fingerprint;
    bool Empty() const { return certificate.isEmpty(); }
};

// A certificate's common name that would act on a terminal and forge a log line: a C1 control, a
// line separator and an escape sequence (UTF-8).
inline constexpr char kHostileName[] = "evil\xc2\x85\xe2\x80\xa8\x1b[31mForged line: Done";

struct TestCertificates {
    // The CA's certificate, the file a client is told to trust.
    QString caFile;
    // Signed by the CA for "localhost", 127.0.0.1 and ::1; valid from a day ago for a year.
    TestCertificate server;
    // Signed by the CA for the same names; ended 30 days ago.
    TestCertificate expired;
    // Signed by the CA for "wrong.example" and 192.0.2.1 only.
    TestCertificate wrongHost;
    // For "localhost", 127.0.0.1 and ::1, signed by its own key.
    TestCertificate selfSigned;
    // Signed by its own key for the same addresses, its name kHostileName.
    TestCertificate hostile;
    // The folder the files are in.
    QString folder;
};

// Returns the certificates, making them at the first call; a certificate that could not be made
// fails the calling test.
const TestCertificates &Certificates();

} // namespace quelmark::test
