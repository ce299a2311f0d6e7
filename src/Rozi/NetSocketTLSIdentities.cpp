#include "Rozi/NetSocketTLSIdentities.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

Bio memoryOf(const std::string& text)
{
    return Bio(text.size() <= INT_MAX ? BIO_new_mem_buf(text.data(), int(text.size())) : nullptr, &BIO_free);
}

X509* certificateOf(const std::string& pem)
{
    Bio bio = memoryOf(pem);
    return bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr;
}

} // namespace

NetSocketTLSIdentities::Identity::~Identity()
{
    X509_free(certificate);
    EVP_PKEY_free(key);
    for (X509* link : chain)
        X509_free(link);
}

NetSocketTLSIdentities& NetSocketTLSIdentities::shared()
{
    // Never destroyed: sockets closing on dispatch threads during exit may still use it.
    static NetSocketTLSIdentities* const identities = new NetSocketTLSIdentities;
    return *identities;
}

std::shared_ptr<const NetSocketTLSIdentities::Identity> NetSocketTLSIdentities::parse(
    const std::vector<std::string>& pems)
{
    {
        const std::lock_guard lock(mutex_);
        const auto found = identities_.find(pems);
        if (found != identities_.end())
            return found->second;
    }
    if (pems.empty())
        return nullptr;
    auto identity = std::make_shared<Identity>();
    identity->certificate = certificateOf(pems[0]);
    Bio keyBio = memoryOf(pems[0]);
    identity->key = keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (identity->certificate == nullptr || identity->key == nullptr)
        return nullptr;
    for (size_t i = 1; i < pems.size(); ++i) {
        identity->chain.push_back(certificateOf(pems[i]));
        if (identity->chain.back() == nullptr)
            return nullptr;
    }
    const std::lock_guard lock(mutex_);
    if (identities_.size() >= kCapacity)
        identities_.clear();
    identities_.emplace(pems, identity);
    return identity;
}
