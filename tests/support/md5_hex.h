// MD5 as 32 lower-case hexadecimal digits, computed here for the tests alone
// (never by the module's own digest code).
#ifndef FWSETUP_TESTS_SUPPORT_MD5_HEX_H
#define FWSETUP_TESTS_SUPPORT_MD5_HEX_H

#include <openssl/evp.h>

#include <string>

namespace fwtest {

inline std::string Md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr);
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += "0123456789abcdef"[digest[i] >> 4];
        text += "0123456789abcdef"[digest[i] & 15];
    }
    return text;
}

}  // namespace fwtest

#endif
