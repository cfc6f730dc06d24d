// MD5 digests of files, through the platform's cryptographic service, and
// their comparison with expected digests and with sidecar files.
//
// Digest text: the 16 digest bytes as 32 lower-case hexadecimal digits, high
// nibble first. The empty string stands for no digest at all (the file could
// not be read or hashing failed).
//
// A sidecar is a small text file holding the digest of another file. When read,
// its first line that does not begin with "/" counts, and the digest is that
// line's text before its first space: "<digest>  <file name>" lines and "/"
// comment lines are accepted, and either case of the digits matches.
#ifndef FWSETUP_FILEUTIL_MD5_H
#define FWSETUP_FILEUTIL_MD5_H

#include <cstdint>
#include <functional>

#include "platform/types.h"

// Data is fed to the digest in chunks of this many bytes.
const uint32_t kMd5ChunkSize = 1024;

// Fills buffer (size bytes, zero-filled beforehand) with the next bytes of the
// data; called once per chunk, in order.
typedef std::function<void(uint8_t*& buffer, uint32_t& size)> Md5ChunkReader;

// The digest text of length bytes delivered by reader: length / 1024 chunks of
// 1024 bytes, then one chunk with the remainder if there is one (no chunk at
// all for length 0). Empty when the cryptographic service fails.
NString ComputeMd5(const Md5ChunkReader& reader, uint32_t length);

// The digest text of the whole file at path, or empty when it cannot be opened.
// Bytes that cannot be read are hashed as zeros.
NString FileMd5(const WString& path);

// True when the digest texts are equal once both are upper-cased.
bool SameDigest(const NString& actual, const NString& expected);

// True when FileMd5 of path equals expected, both upper-cased.
bool VerifyDigest(const WString& path, const NString& expected);

// The digest a sidecar holds: the text before the first space of its first line
// that does not begin with "/"; empty when there is no such line or the sidecar
// cannot be opened.
NString SidecarDigest(const WString& sidecarPath);

// VerifyDigest of path with the digest read from sidecarPath (empty when the
// sidecar holds no line that does not begin with "/", or cannot be opened).
bool VerifyWithSidecar(const WString& path, const WString& sidecarPath);

#endif
