#include "package/file_stream.h"

#include <ios>
#include <string>

namespace {

std::ios_base::openmode OpenModeOf(uint8_t mode) {
    std::ios_base::openmode openMode = std::ios_base::binary;
    if (mode & StreamMode::Read)
        openMode |= std::ios_base::in;
    if (mode & StreamMode::Write)
        openMode |= std::ios_base::out;
    if (mode & StreamMode::Append)
        openMode |= std::ios_base::app;
    if (mode & StreamMode::Truncate)
        openMode |= std::ios_base::trunc;
    if (mode & StreamMode::AtEnd)
        openMode |= std::ios_base::ate;
    return openMode;
}

}  // namespace

FileStream::FileStream(const WString& path, uint8_t mode)
    : file_(platform::OpenFileBuffer(path, OpenModeOf(mode))), stream_(&noFile_), mode_(mode) {
    if (file_) {
        stream_.rdbuf(file_.get());
    } else {
        stream_.setstate(std::ios_base::failbit);
    }
}

FileStream::~FileStream() {
    if (file_) {
        stream_.flush();
        file_->Close();
    }
}

bool FileStream::IsGood() const {
    return stream_.good();
}

int FileStream::Read(uint8_t* buffer, uint32_t count) {
    if (count > 0x7FFFFFFFu)
        count = 0x7FFFFFFFu;  // the result must fit an int
    stream_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
    const int read = static_cast<int>(stream_.gcount());
    // A file that could not be read is a broken stream, not its end.
    if (file_ && file_->Failed())
        stream_.setstate(std::ios_base::badbit);
    if (stream_.bad() && file_ && file_->Failed())
        return kStreamFailed;
    const bool failed = stream_.fail() || stream_.bad();
    if (stream_.eof()) {
        if (failed)
            return read;
        return read == 0 ? kStreamEndOfFile : read;
    }
    if (failed)
        return kStreamFailed;
    return read;
}

int FileStream::Write(const uint8_t* data, uint32_t count) {
    int result;
    if (!(mode_ & StreamMode::Write)) {
        result = kStreamNotWritable;
    } else {
        if (count > 0x7FFFFFFFu)
            count = 0x7FFFFFFFu;
        const std::streampos before = stream_.tellp();
        stream_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
        const std::streampos after = stream_.tellp();
        // An unknown position (a failed stream) counts as nothing written.
        const std::streamoff written = (before == std::streampos(-1) || after == std::streampos(-1))
                                           ? 0
                                           : static_cast<std::streamoff>(after - before);
        result = static_cast<int>(written);
        if (stream_.eof() && written == 0) {
            result = kStreamEndOfFile;
        } else if (stream_.fail() || stream_.bad()) {
            result = kStreamFailed;
        }
    }
    stream_.flush();
    return result;
}

void FileStream::Close() {
    stream_.flush();
    if (!file_ || !file_->Close())
        stream_.setstate(std::ios_base::failbit);
}

uint32_t FileStream::Size() {
    const std::ios_base::iostate state = stream_.rdstate();
    stream_.clear();
    const std::streampos position = stream_.tellg();
    uint32_t size = 0;
    if (position != std::streampos(-1)) {
        stream_.seekg(0, std::ios_base::end);
        const std::streampos end = stream_.tellg();
        if (end != std::streampos(-1) && static_cast<std::streamoff>(end) >= 0) {
            const std::streamoff bytes = static_cast<std::streamoff>(end);
            size = bytes > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
        }
        stream_.clear();
        stream_.seekg(position);
    }
    stream_.clear(state);
    return size;
}

void FileStream::Seek(uint32_t offset) {
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset), std::ios_base::beg);
}

ByteVector FileStream::ReadAll() {
    ByteVector data(Size());
    const int read = Read(data.empty() ? nullptr : &data[0], static_cast<uint32_t>(data.size()));
    if (read < 0) {
        data.clear();
    } else if (static_cast<size_t>(read) != data.size()) {
        data.resize(static_cast<size_t>(read));
    }
    return data;
}

bool FileStream::ReadLine(NString& line) {
    std::getline(stream_, line, '\n');
    return !(stream_.fail() || stream_.bad());
}

int FileStream::ReadInto(ByteVector& buffer, uint32_t count) {
    buffer.resize(count);
    return Read(buffer.empty() ? nullptr : &buffer[0], count);
}
