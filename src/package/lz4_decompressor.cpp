#include "package/lz4_decompressor.h"

#include <lz4.h>

#include "fileutil/file_operation.h"
#include "package/file_stream.h"

namespace {

// The signed little-endian 32-bit length in front of every block.
int32_t LittleEndianInt32(const uint8_t* bytes) {
    const uint32_t value =
        static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
        (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return static_cast<int32_t>(value);
}

}  // namespace

// Each block goes into the other output buffer than the one before, so the
// previous block stays in place as the dictionary the next one may refer to.
void DecodeLz4Blocks(Stream& source, Stream& destination) {
    LZ4_streamDecode_t* state = LZ4_createStreamDecode();
    if (!state)
        return;
    LZ4_setStreamDecode(state, nullptr, 0);
    uint8_t* output[2] = {new uint8_t[kLz4BlockSize], new uint8_t[kLz4BlockSize]};
    uint8_t* input = new uint8_t[kLz4MaxCompressedBlockSize];
    int current = 0;
    for (;;) {
        uint8_t lengthField[4];
        if (source.Read(lengthField, sizeof(lengthField)) !=
            static_cast<int>(sizeof(lengthField))) {
            break;
        }
        const int32_t length = LittleEndianInt32(lengthField);
        // A block larger than the input buffer cannot be a valid block: stop as
        // at any other unreadable one.
        if (length <= 0 || length > kLz4MaxCompressedBlockSize)
            break;
        if (source.Read(input, static_cast<uint32_t>(length)) != length)
            break;
        const int decoded = LZ4_decompress_safe_continue(
            state, reinterpret_cast<const char*>(input), reinterpret_cast<char*>(output[current]),
            length, kLz4BlockSize);
        if (decoded <= 0)
            break;
        destination.Write(output[current], static_cast<uint32_t>(decoded));
        current = 1 - current;
    }
    delete[] input;
    delete[] output[1];
    delete[] output[0];
    LZ4_freeStreamDecode(state);
}

bool DecompressLz4File(const WString& source, const WString& destination, bool deleteSource) {
    FileStream in(source, StreamMode::Read);
    FileStream out(destination, StreamMode::Write | StreamMode::Truncate);
    const bool result = in.IsGood() && out.IsGood();
    if (result)
        DecodeLz4Blocks(in, out);
    in.Close();
    out.Close();
    if (result && deleteSource)
        FileOperation::RemoveFile(source);
    return result;
}
