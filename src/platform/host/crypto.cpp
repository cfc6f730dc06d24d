// Host cryptographic service: hash objects over OpenSSL's EVP digests.
#include "platform/crypto.h"

#include <openssl/evp.h>

#include <cstring>
#include <new>

namespace platform {

struct CryptProvider {
    uint32_t type;
};

struct CryptHash {
    EVP_MD_CTX* context;
    bool finished;                         // the value has been read; no more data
    unsigned char value[EVP_MAX_MD_SIZE];  // valid once finished
    unsigned int valueSize;
};

namespace {

const uint32_t kMd5Size = 16;

bool Finish(CryptHash* hash) {
    if (hash->finished)
        return true;
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(hash->context, hash->value, &size) != 1 || size != kMd5Size) {
        return false;
    }
    hash->valueSize = size;
    hash->finished = true;
    return true;
}

}  // namespace

bool CryptAcquireContext(CryptProviderHandle& provider, const char16_t* container,
                         const char16_t* providerName, uint32_t providerType, uint32_t flags) {
    provider = 0;
    if (container != 0 || providerName != 0)
        return false;
    if (providerType != kProvRsaFull || flags != kCryptVerifyContext)
        return false;
    CryptProvider* made = new (std::nothrow) CryptProvider;
    if (made == 0)
        return false;
    made->type = providerType;
    provider = made;
    return true;
}

bool CryptReleaseContext(CryptProviderHandle provider, uint32_t flags) {
    if (provider == 0 || flags != 0)
        return false;
    delete provider;
    return true;
}

bool CryptCreateHash(CryptProviderHandle provider, uint32_t algId, CryptHashHandle& hash) {
    hash = 0;
    if (provider == 0 || algId != kCalgMd5)
        return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == 0)
        return false;
    if (EVP_DigestInit_ex(context, EVP_md5(), 0) != 1) {
        EVP_MD_CTX_free(context);
        return false;
    }
    CryptHash* made = new (std::nothrow) CryptHash;
    if (made == 0) {
        EVP_MD_CTX_free(context);
        return false;
    }
    made->context = context;
    made->finished = false;
    made->valueSize = 0;
    hash = made;
    return true;
}

bool CryptHashData(CryptHashHandle hash, const uint8_t* data, uint32_t length) {
    if (hash == 0 || hash->finished)
        return false;
    if (length == 0)
        return true;
    if (data == 0)
        return false;
    return EVP_DigestUpdate(hash->context, data, length) == 1;
}

bool CryptGetHashParam(CryptHashHandle hash, uint32_t param, uint8_t* data, uint32_t& length) {
    if (hash == 0)
        return false;
    if (param == kHpHashSize) {
        const uint32_t size = kMd5Size;
        if (data == 0 || length < sizeof(size)) {
            length = sizeof(size);
            return data == 0;
        }
        std::memcpy(data, &size, sizeof(size));
        length = sizeof(size);
        return true;
    }
    if (param != kHpHashVal)
        return false;
    if (data == 0) {
        length = kMd5Size;
        return true;
    }
    if (length < kMd5Size) {
        length = kMd5Size;
        return false;
    }
    if (!Finish(hash))
        return false;
    std::memcpy(data, hash->value, hash->valueSize);
    length = hash->valueSize;
    return true;
}

bool CryptDestroyHash(CryptHashHandle hash) {
    if (hash == 0)
        return false;
    EVP_MD_CTX_free(hash->context);
    delete hash;
    return true;
}

}  // namespace platform
