#include "Utils/NSDataAES.h"
#include "Utils/RSAKey.h"

#include "Utils/CryptoTestSupport.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Key generation is slow; the suite shares one pair.
const RSAKeyPair& sharedPair()
{
    static const RSAKeyPair pair = *NSDataAES::genRSAKeyPairWithKeySize(2048);
    return pair;
}

const Bytes kSessionKey = patternBytes(32, 32);

std::optional<RSAKey> loadPrivateKeyPem(const std::filesystem::path& path)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(path.c_str(), "r"), BIO_free);
    EVP_PKEY* key = file ? PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr;
    return key ? std::optional<RSAKey>(RSAKey(key)) : std::nullopt;
}

Bytes subjectPublicKeyInfo(const RSAKey& key)
{
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key.get(), &der);
    Bytes bytes(der, der + std::max(length, 0));
    OPENSSL_free(der);
    return bytes;
}

} // namespace

TEST(CryptoRsa, GeneratedPairWrapsAndUnwrapsTheSessionKey)
{
    const RSAKeyPair& pair = sharedPair();
    EXPECT_EQ(pair.publicKey.bits(), 2048);
    const auto wrapped = NSDataAES::RSAEncryptWithPublicKey(kSessionKey, pair.publicKey);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->size(), 256u);
    EXPECT_EQ(NSDataAES::RSADecryptWithPrivateKey(*wrapped, pair.privateKey), kSessionKey);
    // PKCS#1 v1.5 padding is random: the same key never wraps to the same bytes twice.
    EXPECT_NE(NSDataAES::RSAEncryptWithPublicKey(kSessionKey, pair.publicKey), wrapped);
    // The public half carries no private key.
    EXPECT_FALSE(NSDataAES::RSADecryptWithPrivateKey(*wrapped, pair.publicKey));
}

TEST(CryptoRsa, PublicKeyImportTakesPkcs1AndSubjectPublicKeyInfo)
{
    const RSAKeyPair& pair = sharedPair();
    const auto pkcs1 = pair.privateKey.exportPublicKey();
    ASSERT_TRUE(pkcs1);
    EXPECT_EQ(pair.publicKey.exportPublicKey(), pkcs1);
    EXPECT_EQ((*pkcs1)[0], 0x30);  // a bare SEQUENCE of modulus and exponent, no algorithm wrapper
    for (const Bytes& keyData : {*pkcs1, subjectPublicKeyInfo(pair.publicKey)}) {
        const auto imported = RSAKey::importPublicKey(keyData);
        ASSERT_TRUE(imported);
        EXPECT_EQ(imported->exportPublicKey(), pkcs1);
        const auto wrapped = NSDataAES::RSAEncryptWithPublicKey(kSessionKey, *imported);
        ASSERT_TRUE(wrapped);
        EXPECT_EQ(NSDataAES::RSADecryptWithPrivateKey(*wrapped, pair.privateKey), kSessionKey);
    }
}

TEST(CryptoRsa, BadKeyDataIsRefused)
{
    const Bytes pkcs1 = *sharedPair().publicKey.exportPublicKey();
    Bytes trailing = pkcs1;
    trailing.push_back(0);
    const auto small = NSDataAES::genRSAKeyPairWithKeySize(1024);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->publicKey.bits(), 1024);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> ec(EVP_EC_gen("P-256"), EVP_PKEY_free);
    ASSERT_TRUE(ec);

    for (const Bytes& keyData : {Bytes(), patternBytes(270, 5), Bytes(pkcs1.begin(), pkcs1.end() - 1), trailing,
                                 *small->publicKey.exportPublicKey(), subjectPublicKeyInfo(small->publicKey),
                                 subjectPublicKeyInfo(RSAKey(EVP_PKEY_dup(ec.get())))})
        EXPECT_FALSE(RSAKey::importPublicKey(keyData));

    EXPECT_FALSE(NSDataAES::genRSAKeyPairWithKeySize(0));
    EXPECT_FALSE(NSDataAES::genRSAKeyPairWithKeySize(-2048));
    EXPECT_FALSE(RSAKey(nullptr).exportPublicKey());
    EXPECT_FALSE(NSDataAES::RSAEncryptWithPublicKey(kSessionKey, RSAKey(nullptr)));
}

TEST(CryptoRsa, FailuresAreLoggedAndGiveNothing)
{
    const RSAKeyPair& pair = sharedPair();
    CaptureStdout();
    const auto tooLong = NSDataAES::RSAEncryptWithPublicKey(Bytes(256 - 10, 1), pair.publicKey);
    const auto garbage = NSDataAES::RSADecryptWithPrivateKey(patternBytes(10, 9), pair.privateKey);
    const auto aboveModulus = NSDataAES::RSADecryptWithPrivateKey(Bytes(256, 0xff), pair.privateKey);
    const std::string log = GetCapturedStdout();
    EXPECT_FALSE(tooLong);
    EXPECT_FALSE(garbage);
    EXPECT_FALSE(aboveModulus);
    EXPECT_NE(log.find("ras encryption error: error:"), std::string::npos) << log;
    EXPECT_NE(log.find("rsa decryption error: error:"), std::string::npos) << log;
    // The largest PKCS#1 v1.5 payload still fits.
    EXPECT_TRUE(NSDataAES::RSAEncryptWithPublicKey(Bytes(256 - 11, 1), pair.publicKey));
}

TEST(CryptoRsa, OpensslCommandLineAgreesBothWays)
{
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const auto path = [&](const char* name) { return (dir / name).string(); };
    ASSERT_TRUE(openssl({"genrsa", "-out", path("tv.pem"), "2048"}));
    ASSERT_TRUE(openssl({"rsa", "-in", path("tv.pem"), "-RSAPublicKey_out", "-outform", "DER", "-out", path("tv.der")}));
    const auto tvPrivate = loadPrivateKeyPem(dir / "tv.pem");
    const auto tvPublic = RSAKey::importPublicKey(readBytes(dir / "tv.der"));
    ASSERT_TRUE(tvPrivate && tvPublic);

    // We wrap, openssl unwraps.
    const auto wrapped = NSDataAES::RSAEncryptWithPublicKey(kSessionKey, *tvPublic);
    ASSERT_TRUE(wrapped);
    writeBytes(dir / "wrapped.bin", *wrapped);
    ASSERT_TRUE(openssl({"pkeyutl", "-decrypt", "-inkey", path("tv.pem"), "-pkeyopt", "rsa_padding_mode:pkcs1", "-in",
                         path("wrapped.bin"), "-out", path("unwrapped.bin")}));
    EXPECT_EQ(readBytes(dir / "unwrapped.bin"), kSessionKey);

    // openssl wraps, we unwrap.
    writeBytes(dir / "key.bin", kSessionKey);
    ASSERT_TRUE(openssl({"pkeyutl", "-encrypt", "-pubin", "-keyform", "DER", "-inkey", path("tv.der"), "-pkeyopt",
                         "rsa_padding_mode:pkcs1", "-in", path("key.bin"), "-out", path("theirs.bin")}));
    EXPECT_EQ(NSDataAES::RSADecryptWithPrivateKey(readBytes(dir / "theirs.bin"), *tvPrivate), kSessionKey);

    // Our exported public key is one openssl reads as the TV would.
    writeBytes(dir / "ours.der", *sharedPair().publicKey.exportPublicKey());
    ASSERT_TRUE(openssl({"pkeyutl", "-encrypt", "-pubin", "-keyform", "DER", "-inkey", path("ours.der"), "-in",
                         path("key.bin"), "-out", path("toUs.bin")}));
    EXPECT_EQ(NSDataAES::RSADecryptWithPrivateKey(readBytes(dir / "toUs.bin"), sharedPair().privateKey), kSessionKey);
}
