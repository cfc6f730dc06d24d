// A file of the FPGA package read one byte at a time, with its position.
//
// Bytes come from the file in pieces of kFpgaReadAheadSize through one fixed
// buffer: the engine's memory stays the same whatever the file's size.
#ifndef FWSETUP_FPGA_FPGA_BYTE_FILE_H
#define FWSETUP_FPGA_FPGA_BYTE_FILE_H

#include <cstdint>

#include "package/file_stream.h"
#include "platform/types.h"

class FpgaByteFile {
  public:
    FpgaByteFile();
    ~FpgaByteFile();

    // Opens a narrow device path for reading (a file already open is closed
    // first); false when it cannot be opened or the name is longer than
    // kFpgaMaxFileNameLength.
    bool Open(const NString& path);
    bool IsOpen() const { return stream_ != 0; }
    void Close();

    // The next byte; false at the end of the file, on a read failure or when
    // no file is open.
    bool ReadByte(uint8_t& byte) {
        if (next_ == end_ && !Fill())
            return false;
        byte = buffer_[next_++];
        ++position_;
        return true;
    }
    // Moves to offset bytes from the start (reads beyond the end then fail).
    void Seek(uint32_t offset);
    // Bytes from the start of the file to the next byte ReadByte delivers.
    uint32_t Position() const { return position_; }

  private:
    FpgaByteFile(const FpgaByteFile&);
    FpgaByteFile& operator=(const FpgaByteFile&);

    // Reads the next piece of the file into the buffer; false when nothing came.
    bool Fill();

    static const uint32_t kFpgaReadAheadSize = 1024;
    FileStream* stream_;
    uint32_t position_;
    uint32_t next_;  // buffer_[next_, end_) are the bytes from position_ on
    uint32_t end_;
    uint8_t buffer_[kFpgaReadAheadSize];
};

#endif
