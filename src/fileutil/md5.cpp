#include "fileutil/md5.h"

#include <algorithm>

#include "fileutil/string_operation.h"
#include "package/file_stream.h"
#include "platform/crypto.h"

namespace {

const uint32_t kMd5DigestSize = 16;

NString DigestText(const uint8_t* digest, uint32_t size) {
    static const char kHexDigits[] = "0123456789abcdef";
    NString text;
    text.reserve(size * 2);
    for (uint32_t i = 0; i < size; ++i) {
        text.push_back(kHexDigits[digest[i] >> 4]);
        text.push_back(kHexDigits[digest[i] & 0x0F]);
    }
    return text;
}

}  // namespace

NString ComputeMd5(const Md5ChunkReader& reader, uint32_t length) {
    platform::CryptProviderHandle provider = 0;
    if (!platform::CryptAcquireContext(provider, 0, 0, platform::kProvRsaFull,
                                       platform::kCryptVerifyContext)) {
        return NString();
    }
    platform::CryptHashHandle hash = 0;
    if (!platform::CryptCreateHash(provider, platform::kCalgMd5, hash)) {
        platform::CryptReleaseContext(provider, 0);
        return NString();
    }

    const uint32_t remainder = length % kMd5ChunkSize;
    const uint32_t chunks = length / kMd5ChunkSize + (remainder != 0 ? 1 : 0);
    // One buffer serves every chunk; it is zero-filled again before each one.
    ByteVector buffer(chunks != 0 ? kMd5ChunkSize : 0);
    for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
        const uint32_t size = (chunk + 1 == chunks && remainder != 0) ? remainder : kMd5ChunkSize;
        std::fill(buffer.begin(), buffer.begin() + size, 0);
        // The reader gets its own copies, so it cannot point the hash elsewhere.
        uint8_t* data = &buffer[0];
        uint32_t dataSize = size;
        reader(data, dataSize);
        if (!platform::CryptHashData(hash, &buffer[0], size)) {
            platform::CryptReleaseContext(provider, 0);
            platform::CryptDestroyHash(hash);
            return NString();
        }
    }

    uint8_t digest[kMd5DigestSize] = {0};
    uint32_t digestSize = kMd5DigestSize;
    if (!platform::CryptGetHashParam(hash, platform::kHpHashVal, digest, digestSize) ||
        digestSize != kMd5DigestSize) {
        platform::CryptDestroyHash(hash);
        platform::CryptReleaseContext(provider, 0);
        return NString();
    }
    const NString text = DigestText(digest, digestSize);
    platform::CryptDestroyHash(hash);
    platform::CryptReleaseContext(provider, 0);
    return text;
}

NString FileMd5(const WString& path) {
    FileStream stream(path, StreamMode::Read);
    if (!stream.IsGood())
        return NString();
    const uint32_t size = stream.Size();
    // The read count is not looked at: bytes that cannot be read stay zeros.
    const NString text = ComputeMd5(
        [&stream](uint8_t*& buffer, uint32_t& count) { stream.Read(buffer, count); }, size);
    stream.Close();
    return text;
}

bool SameDigest(const NString& actual, const NString& expected) {
    NString wanted = expected;
    StringOperation::ToUpper(wanted);
    NString upper = actual;
    StringOperation::ToUpper(upper);
    return upper == wanted;
}

bool VerifyDigest(const WString& path, const NString& expected) {
    return SameDigest(FileMd5(path), expected);
}

NString SidecarDigest(const WString& sidecarPath) {
    FileStream sidecar(sidecarPath, StreamMode::Read);
    NString expected;
    NString line;
    while (sidecar.ReadLine(line)) {
        if (line.empty() || line[0] != '/') {
            expected = line.substr(0, line.find(' '));
            break;
        }
    }
    sidecar.Close();
    return expected;
}

bool VerifyWithSidecar(const WString& path, const WString& sidecarPath) {
    return VerifyDigest(path, SidecarDigest(sidecarPath));
}
