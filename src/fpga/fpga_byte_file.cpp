#include "fpga/fpga_byte_file.h"

#include "fileutil/string_operation.h"
#include "fpga/fpga_format.h"
#include "package/stream.h"

FpgaByteFile::FpgaByteFile() : stream_(0), position_(0), next_(0), end_(0) {}

FpgaByteFile::~FpgaByteFile() {
    Close();
}

bool FpgaByteFile::Open(const NString& path) {
    Close();
    if (path.empty() || path.size() > kFpgaMaxFileNameLength)
        return false;
    FileStream* stream = new FileStream(StringOperation::ToWide(path), StreamMode::Read);
    if (!stream->IsGood()) {
        delete stream;
        return false;
    }
    stream_ = stream;
    position_ = 0;
    next_ = end_ = 0;
    return true;
}

void FpgaByteFile::Close() {
    if (stream_ != 0) {
        stream_->Close();
        delete stream_;
        stream_ = 0;
    }
    position_ = 0;
    next_ = end_ = 0;
}

bool FpgaByteFile::Fill() {
    if (stream_ == 0)
        return false;
    const int read = stream_->Read(buffer_, kFpgaReadAheadSize);
    if (read <= 0)
        return false;
    next_ = 0;
    end_ = static_cast<uint32_t>(read);
    return true;
}

void FpgaByteFile::Seek(uint32_t offset) {
    if (stream_ == 0)
        return;
    stream_->Seek(offset);
    position_ = offset;
    next_ = end_ = 0;
}
