#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <memory>

// AES-128 block decryption (FIPS-197) for the logo file and the logo's link, done by
// OpenSSL's libcrypto. Every block is decrypted on its own (ECB, no padding): the stored
// streams were enciphered that way. Any thread; one decryptor per thread.
namespace ElAES {

constexpr int kBlockSize = 16;
using Key = std::array<std::uint8_t, 16>;

// The 16-byte key of a key text: 16 zero bytes with the first min(16, length) bytes of the
// text copied over their beginning.
Key ExpandKey(const QByteArray &keyText);

class BlockDecryptor {
public:
    explicit BlockDecryptor(const Key &key);
    ~BlockDecryptor();
    BlockDecryptor(const BlockDecryptor &) = delete;
    BlockDecryptor &operator=(const BlockDecryptor &) = delete;

    // Decrypts one 16-byte block from in into out (they may be the same).
    void decryptBlock(const std::uint8_t *in, std::uint8_t *out);

private:
    struct ContextDeleter {
        void operator()(void *context) const;
    };
    std::unique_ptr<void, ContextDeleter> m_context;
};

} // namespace ElAES
