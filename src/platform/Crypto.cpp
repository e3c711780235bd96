#include "platform/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace kavelo::platform {

struct Sha256::Context
{
    EVP_MD_CTX* md = nullptr;
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>())
{
    m_context->md = EVP_MD_CTX_new();
    if (!m_context->md || EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(m_context->md);
        throw std::bad_alloc(); // the only way a digest of a built-in algorithm fails to start
    }
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context->md);
}

void Sha256::add(QByteArrayView bytes)
{
    EVP_DigestUpdate(m_context->md, bytes.data(), static_cast<size_t>(bytes.size()));
}

QByteArray Sha256::finish()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context->md, reinterpret_cast<unsigned char*>(digest.data()), &size);
    digest.truncate(static_cast<qsizetype>(size));
    return digest;
}

QByteArray sha256(QByteArrayView bytes)
{
    Sha256 digest;
    digest.add(bytes);
    return digest.finish();
}

Result<QByteArray> randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1) {
        char reason[256] = {};
        ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
        return Status::error(QStringLiteral("no random bytes from the system: %1").arg(QLatin1String(reason)));
    }
    return bytes;
}

bool equalInConstantTime(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), static_cast<size_t>(a.size())) == 0;
}

QString hexText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex());
}

} // namespace kavelo::platform
