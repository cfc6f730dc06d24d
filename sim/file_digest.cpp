#include "sim/file_digest.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace sim {
namespace {

typedef std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> Md5Context;

Md5Context StartMd5() {
    Md5Context context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("MD5 is not available");
    }
    return context;
}

std::string FinishMd5(const Md5Context& context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1)
        throw std::runtime_error("MD5 failed");
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text.push_back(kDigits[digest[i] >> 4]);
        text.push_back(kDigits[digest[i] & 15]);
    }
    return text;
}

}  // namespace

std::string FileMd5Hex(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + file.string());
    const Md5Context context = StartMd5();
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        if (in.gcount() > 0 &&
            EVP_DigestUpdate(context.get(), buffer.data(), size_t(in.gcount())) != 1) {
            throw std::runtime_error("MD5 failed");
        }
    }
    if (in.bad())
        throw std::runtime_error("cannot read " + file.string());
    return FinishMd5(context);
}

std::string Md5Hex(const std::vector<uint8_t>& bytes) {
    const Md5Context context = StartMd5();
    if (!bytes.empty() && EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
        throw std::runtime_error("MD5 failed");
    return FinishMd5(context);
}

}  // namespace sim
