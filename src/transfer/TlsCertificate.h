#ifndef KAVELO_TRANSFER_TLSCERTIFICATE_H
#define KAVELO_TRANSFER_TLSCERTIFICATE_H

#include "platform/Status.h"

#include <QSslConfiguration>
#include <QString>
#include <QStringList>

namespace kavelo::transfer {

// The HTTPS endpoint's certificate and private key (PEM files).
struct TlsFiles
{
    QString certificate;
    QString key;
    bool own = false; // the program folder's tls/kavelo.crt and tls/kavelo.key, made by KAVELO when missing
};

// "TlsCertificate" and "TlsKey" when set (relative paths are taken from the program folder), else the program
// folder's own pair.
TlsFiles tlsFiles(const QString& programFolder, const QString& certificate, const QString& key);

// Makes the own pair when it is missing: a self-signed ECDSA P-256 certificate valid for 10 years, for localhost,
// 127.0.0.1, this PC's host name and, when `listenAddress` is one address (not 0.0.0.0, * or ::), that address;
// the key file gets mode 0600. A pair named in the settings is never made or changed. True in `made` when it made
// one now.
platform::Status ensureCertificate(const TlsFiles& files, const QString& listenAddress, bool* made = nullptr);

// The certificate's SHA-256 fingerprint: 64 lower-case hex digits of the digest of its DER form.
platform::Result<QString> certificateFingerprint(const QString& certificatePath);

// The TLS configuration of the HTTPS endpoint: the certificate and its key (which must belong together), TLS 1.2
// or newer, no client certificates. The error names the file and the reason.
platform::Result<QSslConfiguration> serverTlsConfiguration(const TlsFiles& files);

// The names a made certificate is for (its subjectAltName entries, "DNS:..." and "IP:...").
QStringList certificateNames(const QString& listenAddress);

} // namespace kavelo::transfer

#endif
