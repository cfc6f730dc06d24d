// A file of the FPGA package read one byte at a time, with its position.
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
    bool ReadByte(uint8_t& byte);
    // Moves to offset bytes from the start (reads beyond the end then fail).
    void Seek(uint32_t offset);
    // Bytes from the start of the file to the next byte ReadByte delivers.
    uint32_t Position() const { return position_; }

  private:
    FpgaByteFile(const FpgaByteFile&);
    FpgaByteFile& operator=(const FpgaByteFile&);

    FileStream* stream_;
    uint32_t position_;
};

#endif
