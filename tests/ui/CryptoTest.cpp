#include "CipherFixtures.h"
#include "core/AppError.h"
#include "ui/AES.h"
#include "ui/ElAES.h"
#include "ui/func.h"

#include <QBuffer>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace CipherFixtures;

namespace {

const QByteArray kLogoKey = QByteArray::fromHex("B6ABC4CFCEF7B1B1D6D0253637D1F4");

QString errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const AppError &error) {
        return error.message();
    }
    return QStringLiteral("(no error)");
}

QByteArray decryptToBuffer(const QByteArray &stream, const QByteArray &key)
{
    QBuffer input;
    input.setData(stream);
    input.open(QIODevice::ReadOnly);
    QBuffer output;
    output.open(QIODevice::ReadWrite);
    AES::DecryptStream(input, key, &output);
    return output.data();
}

} // namespace

TEST(ElAES, DecryptsTheFips197KnownAnswer)
{
    // FIPS-197 appendix C.1: AES-128.
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    QByteArray block = QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    ElAES::Key expanded = ElAES::ExpandKey(key);
    ElAES::BlockDecryptor decryptor(expanded);
    auto *bytes = reinterpret_cast<std::uint8_t *>(block.data());
    decryptor.decryptBlock(bytes, bytes);
    EXPECT_EQ(block.toHex(), QByteArray("00112233445566778899aabbccddeeff"));

    // Appendix B: the cipher example of the standard.
    QByteArray second = QByteArray::fromHex("3925841d02dc09fbdc118597196a0b32");
    ElAES::BlockDecryptor other(ElAES::ExpandKey(QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c")));
    other.decryptBlock(reinterpret_cast<std::uint8_t *>(second.data()),
                       reinterpret_cast<std::uint8_t *>(second.data()));
    EXPECT_EQ(second.toHex(), QByteArray("3243f6a8885a308d313198a2e0370734"));
}

TEST(ElAES, KeyTextIsZeroFilledOrCut)
{
    const ElAES::Key shortKey = ElAES::ExpandKey("abc");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(shortKey.data()), 16),
              QByteArray("abc") + QByteArray(13, '\0'));
    const ElAES::Key longKey = ElAES::ExpandKey("0123456789abcdefXYZ");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(longKey.data()), 16), QByteArray("0123456789abcdef"));
}

class DecryptStreamTest : public ::testing::Test {
protected:
    const QByteArray plain = QByteArrayLiteral("BM the picture data, forty-one bytes long");
};

TEST_F(DecryptStreamTest, OpensslStreamRoundTrips)
{
    EXPECT_EQ(decryptToBuffer(encryptStream(plain, kLogoKey), kLogoKey), plain);
    const QByteArray whole(32, 'x');
    EXPECT_EQ(decryptToBuffer(encryptStream(whole, kLogoKey), kLogoKey), whole);
}

TEST_F(DecryptStreamTest, LengthFieldSmallerThanDataCutsTheResult)
{
    EXPECT_EQ(decryptToBuffer(encryptStream(plain, kLogoKey, 10), kLogoKey), plain.left(10));
    EXPECT_EQ(decryptToBuffer(encryptStream(plain, kLogoKey, 0), kLogoKey), QByteArray());
}

TEST_F(DecryptStreamTest, WritesAtTheOutputPositionAndReturnsThere)
{
    QBuffer input;
    input.setData(encryptStream(plain, kLogoKey));
    input.open(QIODevice::ReadOnly);
    input.seek(20); // the input is read from its beginning whatever its position
    QBuffer output;
    output.open(QIODevice::ReadWrite);
    output.write("HEAD" + QByteArray(200, '#'));
    output.seek(4);
    EXPECT_TRUE(AES::DecryptStream(input, kLogoKey, &output));
    EXPECT_EQ(output.pos(), 4);
    EXPECT_EQ(output.data(), "HEAD" + plain); // the older tail is cut off
}

TEST_F(DecryptStreamTest, BrokenStreamsAreOneError)
{
    const QByteArray good = encryptStream(plain, kLogoKey);
    const QString broken = QStringLiteral("Decrypt stream error.");
    EXPECT_EQ(errorOf([&] { decryptToBuffer(good.left(good.size() - 3), kLogoKey); }), broken);
    EXPECT_EQ(errorOf([&] { decryptToBuffer(good.left(8), kLogoKey); }), broken);
    EXPECT_EQ(errorOf([&] { decryptToBuffer(good.left(5), kLogoKey); }), broken);
    EXPECT_EQ(errorOf([&] { decryptToBuffer(QByteArray(), kLogoKey); }), broken);
}

TEST_F(DecryptStreamTest, LengthFieldOutsideTheDataIsBroken)
{
    // 41 bytes fill 48; a claim of 49 or of a negative length must not read past the data.
    EXPECT_EQ(errorOf([&] { decryptToBuffer(encryptStream(plain, kLogoKey, 49), kLogoKey); }),
              QStringLiteral("Decrypt stream error."));
    EXPECT_EQ(errorOf([&] { decryptToBuffer(encryptStream(plain, kLogoKey, -1 - 1), kLogoKey); }),
              QStringLiteral("Decrypt stream error."));
    EXPECT_EQ(
        errorOf([&] { decryptToBuffer(encryptStream(plain, kLogoKey, std::numeric_limits<qint64>::max()), kLogoKey); }),
        QStringLiteral("Decrypt stream error."));
    EXPECT_EQ(decryptToBuffer(encryptStream(plain, kLogoKey, 48), kLogoKey).size(), 48);
}

TEST_F(DecryptStreamTest, MissingOutputIsReported)
{
    QBuffer input;
    input.setData(encryptStream(plain, kLogoKey));
    input.open(QIODevice::ReadOnly);
    EXPECT_EQ(errorOf([&] { AES::DecryptStream(input, kLogoKey, nullptr); }),
              QStringLiteral("Dest stream not created."));
}

TEST_F(DecryptStreamTest, ReadOnlyOutputIsBroken)
{
    QBuffer input;
    input.setData(encryptStream(plain, kLogoKey));
    input.open(QIODevice::ReadOnly);
    QBuffer output;
    output.open(QIODevice::ReadOnly);
    EXPECT_EQ(errorOf([&] { AES::DecryptStream(input, kLogoKey, &output); }), QStringLiteral("Decrypt stream error."));
}

TEST(HexToBytes, ReadsPairsAndALastSingleDigit)
{
    EXPECT_EQ(AES::HexToBytes("00ff7Fa"), QByteArray::fromHex("00ff7f0a"));
    EXPECT_EQ(AES::HexToBytes(""), QByteArray());
    EXPECT_THROW(AES::HexToBytes("0g"), AppError);
    EXPECT_THROW(AES::HexToBytes("-1"), AppError);
    EXPECT_THROW(AES::HexToBytes(" 1"), AppError);
}

TEST(DecryptString, KeepsTheFillAndIgnoresTheLengthField)
{
    const QByteArray key = "MTk#592617=/8%3";
    const QByteArray hex = encryptStream("http://x", key, 3).toHex();
    const QByteArray plain = AES::DecryptString(hex, key);
    EXPECT_EQ(plain, QByteArray("http://x") + QByteArray(8, '\0'));
    EXPECT_THROW(AES::DecryptString(hex.left(hex.size() - 2), key), AppError);
}

class HexPairDecipherTest : public ::testing::Test {
protected:
    const QByteArray key = ";QRKf57%n,-t291";
};

TEST_F(HexPairDecipherTest, DeciphersWhatTheCipherMade)
{
    const QByteArray plain = "0123456789ABCDEF0123456789abcdef-the key is used around more than once";
    for (int seed : {0, 1, 0x7f, 0xfe, 0xff})
        EXPECT_EQ(func::HexPairDecipher(hexPairEncipher(plain, key, seed), key), plain) << seed;
}

TEST_F(HexPairDecipherTest, EqualValuesGiveByte255)
{
    // prev = 0x40, cur = 0x40 ^ key[0]: t = key[0] ^ cur = prev.
    const int cur = 0x40 ^ quint8(key.at(0));
    const QByteArray text = "40" + QByteArray::number(cur, 16).rightJustified(2, '0');
    EXPECT_EQ(func::HexPairDecipher(text, key), QByteArray(1, char(255)));
}

TEST_F(HexPairDecipherTest, KeyIsUsedCyclically)
{
    // Sixteen pairs of 00 after a seed 00: t = key[i] each time, so byte 16 uses key[1] again
    // (after the first byte prev is 0 throughout).
    const QByteArray text = "00" + QByteArray(32, '0');
    const QByteArray out = func::HexPairDecipher(text, key);
    ASSERT_EQ(out.size(), 16);
    EXPECT_EQ(out.at(0), key.at(0));
    EXPECT_EQ(out.at(14), key.at(14));
    EXPECT_EQ(out.at(15), key.at(0));
}

TEST_F(HexPairDecipherTest, SingleDigitIsReadOnlyAsTheFirstPair)
{
    // "00" + "5": the first pair is read even as one digit.
    EXPECT_EQ(func::HexPairDecipher("005", key), QByteArray(1, char(key.at(0) ^ 5)));
    // After the first pair a lone trailing digit is not read.
    EXPECT_EQ(func::HexPairDecipher("00000", key).size(), 1);
    EXPECT_EQ(func::HexPairDecipher("0000z", key).size(), 1);
    EXPECT_EQ(func::HexPairDecipher("0000000", key).size(), 2);
}

TEST_F(HexPairDecipherTest, MissingOrForeignPairsAreErrors)
{
    EXPECT_THROW(func::HexPairDecipher("", key), AppError);
    EXPECT_THROW(func::HexPairDecipher("4A", key), AppError);
    EXPECT_THROW(func::HexPairDecipher("4Axy", key), AppError);
}

class DecryptLinkTest : public ::testing::Test { };

TEST_F(DecryptLinkTest, LinkMadeWithOpensslComesBack)
{
    EXPECT_EQ(func::DecryptLink(encipherLink("https://www.example.com/")), QStringLiteral("https://www.example.com/"));
    // Exactly one block: no zero byte ends it, the data's end does.
    EXPECT_EQ(func::DecryptLink(encipherLink("http://a.example")), QStringLiteral("http://a.example"));
}

TEST_F(DecryptLinkTest, LinkEndsAtItsFirstZeroByte)
{
    EXPECT_EQ(func::DecryptLink(encipherLink(QByteArray("http://a\0junk", 13))), QStringLiteral("http://a"));
}

TEST_F(DecryptLinkTest, AnythingBrokenIsTheEmptyLink)
{
    EXPECT_EQ(func::DecryptLink(QString()), QString());
    EXPECT_EQ(func::DecryptLink(QStringLiteral("5A")), QString());
    EXPECT_EQ(func::DecryptLink(QStringLiteral("not a link at all")), QString());
    const QString good = encipherLink("http://example.org");
    EXPECT_EQ(func::DecryptLink(good.left(good.size() - 8)), QString()); // no whole blocks
    EXPECT_EQ(func::DecryptLink(QString(good).insert(10, QStringLiteral("中"))), QString());
}
