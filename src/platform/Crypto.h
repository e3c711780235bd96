#ifndef KAVELO_PLATFORM_CRYPTO_H
#define KAVELO_PLATFORM_CRYPTO_H

#include "platform/Status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

namespace kavelo::platform {

// SHA-256 computed in pieces (a file as it streams past).
class Sha256
{
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(QByteArrayView bytes);
    // The 32-byte digest; the object is spent afterwards.
    QByteArray finish();

  private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// The SHA-256 of `bytes` (32 bytes).
QByteArray sha256(QByteArrayView bytes);
// `count` bytes from the system's cryptographically secure generator.
Result<QByteArray> randomBytes(int count);
// Whether `a` and `b` are the same bytes, in a time that does not depend on where they differ. Different sizes are
// different (sizes are no secret here: every digest compared is 32 bytes).
bool equalInConstantTime(QByteArrayView a, QByteArrayView b);
// 64 lower-case hex digits of a SHA-256 digest, as a fingerprint or an ETag shows it.
QString hexText(QByteArrayView bytes);

} // namespace kavelo::platform

#endif
