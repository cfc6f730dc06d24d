// The platform's cryptographic service: a provider context and hash objects.
//
// The calls mirror the platform's (CryptAcquireContextW, CryptCreateHash,
// CryptHashData, CryptGetHashParam, CryptDestroyHash, CryptReleaseContext).
// Handles are opaque; a hash object stays usable after its context has been
// released. Every call answers with a result; none throws.
#ifndef FWSETUP_PLATFORM_CRYPTO_H
#define FWSETUP_PLATFORM_CRYPTO_H

#include <cstdint>

namespace platform {

// Provider type of the full RSA provider, the one that offers MD5.
const uint32_t kProvRsaFull = 1;
// A context that holds no key container, for hashing and verifying only.
const uint32_t kCryptVerifyContext = 0xF0000000u;
// Hash algorithm id of MD5.
const uint32_t kCalgMd5 = 0x8003;
// CryptGetHashParam: the hash value.
const uint32_t kHpHashVal = 2;
// CryptGetHashParam: the size of the hash value in bytes (a 32-bit value).
const uint32_t kHpHashSize = 4;

struct CryptProvider;
struct CryptHash;
typedef CryptProvider* CryptProviderHandle;
typedef CryptHash* CryptHashHandle;

// CryptAcquireContextW. container and provider name may be null (no key
// container, the default provider); only the provider type kProvRsaFull with
// the flag kCryptVerifyContext is offered.
bool CryptAcquireContext(CryptProviderHandle& provider, const char16_t* container,
                         const char16_t* providerName, uint32_t providerType, uint32_t flags);
// CryptReleaseContext: flags must be 0.
bool CryptReleaseContext(CryptProviderHandle provider, uint32_t flags);

// CryptCreateHash of algorithm algId without a key; only kCalgMd5 is offered.
bool CryptCreateHash(CryptProviderHandle provider, uint32_t algId, CryptHashHandle& hash);
// CryptHashData: feeds length bytes; fails once the hash value has been read.
bool CryptHashData(CryptHashHandle hash, const uint8_t* data, uint32_t length);
// CryptGetHashParam: with data null, length receives the size needed; with a
// buffer shorter than that the call fails and length receives the size.
bool CryptGetHashParam(CryptHashHandle hash, uint32_t param, uint8_t* data, uint32_t& length);
// CryptDestroyHash.
bool CryptDestroyHash(CryptHashHandle hash);

}  // namespace platform

#endif
