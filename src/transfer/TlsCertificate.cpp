#include "transfer/TlsCertificate.h"

#include "platform/FileMode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QSysInfo>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <functional>
#include <memory>

namespace kavelo::transfer {

using platform::Result;
using platform::Status;

namespace {

constexpr int kValidDays = 3653; // ten years, leap days included
const QString kOwnCertificate = QStringLiteral("tls/kavelo.crt");
const QString kOwnKey = QStringLiteral("tls/kavelo.key");

template <typename T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

// OpenSSL's reason for the last failure of this thread.
QString opensslReason()
{
    const unsigned long code = ERR_get_error();
    if (code == 0) {
        return QStringLiteral("unknown error");
    }
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return QString::fromLatin1(text);
}

bool isOneAddress(const QString& listenAddress)
{
    const QHostAddress address(listenAddress);
    return !address.isNull() && address != QHostAddress(QHostAddress::AnyIPv4) &&
           address != QHostAddress(QHostAddress::AnyIPv6) && address != QHostAddress(QHostAddress::Any);
}

Status addExtension(X509* certificate, int nid, const QString& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.toLatin1().constData()));
    if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
        return Status::error(QStringLiteral("certificate extension %1: %2").arg(value, opensslReason()));
    }
    return Status::ok();
}

Result<QByteArray> pem(const std::function<int(BIO*)>& write)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) {
        return Status::error(QStringLiteral("PEM: %1").arg(opensslReason()));
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

Result<CertPtr> selfSigned(EVP_PKEY* key, const QString& listenAddress)
{
    CertPtr certificate(X509_new());
    QByteArray serial(16, Qt::Uninitialized);
    if (!certificate || RAND_bytes(reinterpret_cast<unsigned char*>(serial.data()), 16) != 1) {
        return Status::error(QStringLiteral("certificate: %1").arg(opensslReason()));
    }
    serial[0] = static_cast<char>(serial[0] & 0x7f); // a positive serial number
    BnPtr number(BN_bin2bn(reinterpret_cast<const unsigned char*>(serial.constData()), 16, nullptr));
    const std::time_t now = std::time(nullptr);
    const QByteArray commonName = QStringLiteral("KAVELO %1").arg(QSysInfo::machineHostName()).toUtf8().left(64);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const bool ok =
        number && X509_set_version(certificate.get(), 2) == 1 &&
        BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get())) &&
        ASN1_TIME_adj(X509_getm_notBefore(certificate.get()), now, 0, -3600) &&
        ASN1_TIME_adj(X509_getm_notAfter(certificate.get()), now, kValidDays, 0) &&
        X509_set_pubkey(certificate.get(), key) == 1 &&
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.constData()), -1, -1, 0) ==
            1 &&
        X509_set_issuer_name(certificate.get(), name) == 1;
    if (!ok) {
        return Status::error(QStringLiteral("certificate: %1").arg(opensslReason()));
    }
    for (const auto& [nid, value] :
         {std::pair{NID_basic_constraints, QStringLiteral("critical,CA:FALSE")},
          std::pair{NID_subject_key_identifier, QStringLiteral("hash")},
          std::pair{NID_ext_key_usage, QStringLiteral("serverAuth")},
          std::pair{NID_subject_alt_name, certificateNames(listenAddress).join(QLatin1Char(','))}}) {
        Status added = addExtension(certificate.get(), nid, value);
        if (!added.isOk()) {
            return added;
        }
    }
    if (X509_sign(certificate.get(), key, EVP_sha256()) <= 0) {
        return Status::error(QStringLiteral("certificate signature: %1").arg(opensslReason()));
    }
    return certificate;
}

} // namespace

TlsFiles tlsFiles(const QString& programFolder, const QString& certificate, const QString& key)
{
    const QDir home(programFolder);
    if (!certificate.isEmpty() && !key.isEmpty()) {
        return TlsFiles{home.absoluteFilePath(certificate), home.absoluteFilePath(key), false};
    }
    return TlsFiles{home.absoluteFilePath(kOwnCertificate), home.absoluteFilePath(kOwnKey), true};
}

QStringList certificateNames(const QString& listenAddress)
{
    QStringList names{QStringLiteral("DNS:localhost"), QStringLiteral("IP:127.0.0.1")};
    const QString host = QSysInfo::machineHostName();
    const bool dnsName = !host.isEmpty() && !host.contains(QLatin1Char(',')) && QHostAddress(host).isNull() &&
                         host != QLatin1String("localhost");
    if (dnsName) {
        names << QStringLiteral("DNS:") + host;
    }
    if (isOneAddress(listenAddress) && QHostAddress(listenAddress) != QHostAddress(QHostAddress::LocalHost)) {
        names << QStringLiteral("IP:") + QHostAddress(listenAddress).toString();
    }
    return names;
}

Status ensureCertificate(const TlsFiles& files, const QString& listenAddress, bool* made)
{
    if (made) {
        *made = false;
    }
    if (!files.own || (QFileInfo::exists(files.certificate) && QFileInfo::exists(files.key))) {
        return Status::ok();
    }
    if (!QDir().mkpath(QFileInfo(files.certificate).absolutePath())) {
        return Status::error(
            QStringLiteral("%1: cannot create the folder").arg(QFileInfo(files.certificate).absolutePath()));
    }
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        return Status::error(QStringLiteral("an ECDSA P-256 key: %1").arg(opensslReason()));
    }
    Result<CertPtr> certificate = selfSigned(key.get(), listenAddress);
    if (!certificate.isOk()) {
        return certificate.status().prefixed(files.certificate + QStringLiteral(": "));
    }
    Result<QByteArray> keyPem =
        pem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    Result<QByteArray> certificatePem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate->get()); });
    if (!keyPem.isOk() || !certificatePem.isOk()) {
        return (keyPem.isOk() ? certificatePem.status() : keyPem.status())
            .prefixed(files.certificate + QStringLiteral(": "));
    }
    // The key first: a certificate is never there without its key.
    Status written = platform::writeWholeFile(files.key, *keyPem, 0600);
    if (written.isOk()) {
        written = platform::writeWholeFile(files.certificate, *certificatePem, platform::ordinaryFileMode());
    }
    if (written.isOk() && made) {
        *made = true;
    }
    return written;
}

namespace {

Result<QByteArray> readPem(const QString& path)
{
    QFile file(path);
    if (!file.exists()) {
        return Status::error(QStringLiteral("%1: not found").arg(path));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::error(QStringLiteral("%1: cannot read: %2").arg(path, file.errorString()));
    }
    return file.read(1024 * 1024);
}

} // namespace

Result<QSslConfiguration> serverTlsConfiguration(const TlsFiles& files)
{
    Result<QByteArray> certificatePem = readPem(files.certificate);
    if (!certificatePem.isOk()) {
        return certificatePem.status();
    }
    Result<QByteArray> keyPem = readPem(files.key);
    if (!keyPem.isOk()) {
        return keyPem.status();
    }
    BioPtr certificateBio(BIO_new_mem_buf(certificatePem->constData(), static_cast<int>(certificatePem->size())));
    BioPtr keyBio(BIO_new_mem_buf(keyPem->constData(), static_cast<int>(keyPem->size())));
    CertPtr certificate(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    if (!certificate) {
        return Status::error(QStringLiteral("%1: not a PEM certificate: %2").arg(files.certificate, opensslReason()));
    }
    KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        return Status::error(
            QStringLiteral("%1: not a PEM private key (without a passphrase): %2").arg(files.key, opensslReason()));
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        ERR_clear_error();
        return Status::error(
            QStringLiteral("%1: the key does not belong to the certificate %2").arg(files.key, files.certificate));
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certificatePem, QSsl::Pem);
    QSslKey qtKey;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        qtKey = QSslKey(*keyPem, algorithm, QSsl::Pem);
        if (!qtKey.isNull()) {
            break;
        }
    }
    if (chain.isEmpty() || qtKey.isNull()) {
        return Status::error(
            QStringLiteral("%1, %2: TLS cannot take this certificate and key").arg(files.certificate, files.key));
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain); // the server's own, then any intermediate ones after it in the file
    tls.setPrivateKey(qtKey);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

Result<QString> certificateFingerprint(const QString& certificatePath)
{
    QFile file(certificatePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::error(QStringLiteral("%1: cannot read: %2").arg(certificatePath, file.errorString()));
    }
    const QByteArray content = file.read(1024 * 1024);
    BioPtr bio(BIO_new_mem_buf(content.constData(), static_cast<int>(content.size())));
    CertPtr certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!certificate) {
        return Status::error(QStringLiteral("%1: not a PEM certificate: %2").arg(certificatePath, opensslReason()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (X509_digest(certificate.get(), EVP_sha256(), digest, &size) != 1) {
        return Status::error(QStringLiteral("%1: %2").arg(certificatePath, opensslReason()));
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size)).toHex());
}

} // namespace kavelo::transfer
