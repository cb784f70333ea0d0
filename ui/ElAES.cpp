#include "ui/ElAES.h"

#include "core/AppError.h"

#include <openssl/evp.h>

#include <algorithm>

namespace ElAES {

Key ExpandKey(const QByteArray &keyText)
{
    Key key{};
    const auto count = std::min<qsizetype>(keyText.size(), kBlockSize);
    std::copy_n(reinterpret_cast<const std::uint8_t *>(keyText.constData()), count, key.begin());
    return key;
}

void BlockDecryptor::ContextDeleter::operator()(void *context) const
{
    EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX *>(context));
}

BlockDecryptor::BlockDecryptor(const Key &key)
    : m_context(EVP_CIPHER_CTX_new())
{
    auto *context = static_cast<EVP_CIPHER_CTX *>(m_context.get());
    if (!context || EVP_DecryptInit_ex(context, EVP_aes_128_ecb(), nullptr, key.data(), nullptr) != 1)
        throw AppError(QStringLiteral("Cannot set up the AES decryption"));
    // The streams carry their own length field; the fill of the last block is not PKCS padding.
    EVP_CIPHER_CTX_set_padding(context, 0);
}

BlockDecryptor::~BlockDecryptor() = default;

void BlockDecryptor::decryptBlock(const std::uint8_t *in, std::uint8_t *out)
{
    auto *context = static_cast<EVP_CIPHER_CTX *>(m_context.get());
    std::uint8_t plain[kBlockSize];
    int written = 0;
    if (EVP_DecryptUpdate(context, plain, &written, in, kBlockSize) != 1 || written != kBlockSize)
        throw AppError(QStringLiteral("AES block decryption failed"));
    std::copy_n(plain, kBlockSize, out);
}

} // namespace ElAES
