#include "tests/support/TestCertificates.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace quelmark::test {

namespace {

constexpr long kDay = 24 * 60 * 60;

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Key NewKey()
{
    return Key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
}

void AddExtension(X509 *certificate, X509V3_CTX &context, int nid, const char *value)
{
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) {
        ADD_FAILURE() << "cannot make the extension " << value;
        return;
    }
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

struct Request {
    const char *commonName;
    const char *altNames; // nullptr for a CA
    long fromSeconds;     // relative to now
    long toSeconds;
};

// Makes a certificate for key, signed by issuer (itself when issuer is null).
Certificate Make(const Request &request, EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey)
{
    static long serial = 1;
    Certificate certificate(X509_new(), &X509_free);
    X509 *x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x), request.fromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(x), request.toSeconds);
    X509_set_pubkey(x, key);
    X509_NAME *name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Quelmark tests"), -1,
                               -1, 0);
    const char *cn = request.commonName;
    const bool ascii =
        std::none_of(cn, cn + std::strlen(cn), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    X509_NAME_add_entry_by_txt(name, "CN", ascii ? MBSTRING_ASC : MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(request.commonName), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : x, x, nullptr, nullptr, 0);
    AddExtension(x, context, NID_subject_key_identifier, "hash");
    AddExtension(x, context, NID_authority_key_identifier, "keyid:always");
    if (request.altNames) {
        AddExtension(x, context, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(x, context, NID_key_usage, "critical,digitalSignature");
        AddExtension(x, context, NID_ext_key_usage, "serverAuth");
        AddExtension(x, context, NID_subject_alt_name, request.altNames);
    } else {
        AddExtension(x, context, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(x, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    if (X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        ADD_FAILURE() << "cannot sign the certificate for " << request.commonName;
    return certificate;
}

QString WriteCertificate(const QString &path, X509 *certificate)
{
    BIO *out = BIO_new_file(QFile::encodeName(path).constData(), "w");
    if (!out || PEM_write_bio_X509(out, certificate) != 1)
        ADD_FAILURE() << "cannot write " << path.toStdString();
    BIO_free(out);
    return path;
}

QString WriteKey(const QString &path, EVP_PKEY *key)
{
    BIO *out = BIO_new_file(QFile::encodeName(path).constData(), "w");
    if (!out || PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        ADD_FAILURE() << "cannot write " << path.toStdString();
    BIO_free(out);
    return path;
}

QString Fingerprint(X509 *certificate)
{
    unsigned char *der = nullptr;
    const int length = i2d_X509(certificate, &der);
    const QByteArray digest =
        QCryptographicHash::hash(QByteArrayView(der, length > 0 ? length : 0), QCryptographicHash::Sha256);
    OPENSSL_free(der);
    QStringList pairs;
    for (const char byte : digest)
        pairs += QStringLiteral("%1").arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0')).toUpper();
    return pairs.join(QLatin1Char(':'));
}

TestCertificate Server(const QDir &folder, const char *name, const Request &request, EVP_PKEY *key, X509 *issuer,
                       EVP_PKEY *issuerKey)
{
    const Certificate certificate = Make(request, key, issuer, issuerKey);
    return {WriteCertificate(folder.filePath(QLatin1String(name) + QStringLiteral(".pem")), certificate.get()),
            WriteKey(folder.filePath(QLatin1String(name) + QStringLiteral(".key")), key),
            Fingerprint(certificate.get())};
}

TestCertificates MakeAll(const QString &path)
{
    const QDir folder(path);
    // The servers that read these run as other users than the tests in places.
    ::chmod(QFile::encodeName(path).constData(), 0755);
    const Key caKey = NewKey();
    const Key serverKey = NewKey();
    const char *localhost = "DNS:localhost,IP:127.0.0.1,IP:::1";
    const Certificate ca = Make({"Quelmark Test CA", nullptr, -kDay, 365 * kDay}, caKey.get(), nullptr, nullptr);
    TestCertificates all;
    all.folder = path;
    all.caFile = WriteCertificate(folder.filePath(QStringLiteral("ca.pem")), ca.get());
    all.server =
        Server(folder, "server", {"localhost", localhost, -kDay, 365 * kDay}, serverKey.get(), ca.get(), caKey.get());
    all.expired = Server(folder, "expired", {"localhost", localhost, -60 * kDay, -30 * kDay}, serverKey.get(), ca.get(),
                         caKey.get());
    all.wrongHost = Server(folder, "wronghost", {"wrong.example", "DNS:wrong.example,IP:192.0.2.1", -kDay, 365 * kDay},
                           serverKey.get(), ca.get(), caKey.get());
    all.selfSigned =
        Server(folder, "selfsigned", {"localhost", localhost, -kDay, 365 * kDay}, serverKey.get(), nullptr, nullptr);
    all.hostile =
        Server(folder, "hostile", {kHostileName, localhost, -kDay, 365 * kDay}, serverKey.get(), nullptr, nullptr);
    return all;
}

} // namespace

const TestCertificates &Certificates()
{
    static QTemporaryDir folder;
    static const TestCertificates all = MakeAll(folder.path());
    return all;
}

} // namespace quelmark::test
