// The reader of an FPGA data file: the bytes of its datasets, one at a time.
//
// The engine names the file (SetFileName), opens it while it reads the
// algorithm's header, and then, for every transfer that takes data, calls
// BeginTransfer followed by one GetDataByte per byte. A single-dataset file
// delivers its bytes in order to whatever dataset is asked for; a file with a
// table delivers each dataset from its address, restarts a dataset once all
// its bytes went out, and remembers how far up to kFpgaResumeSlots datasets
// have got when the engine switches between them.
//
// Compressed data holds one block per transfer (see fpga_format.h). A dataset
// resumed after a switch continues at the stored byte where its previous
// transfer ended, so its blocks stay in step with the transfers that made them;
// a dataset that restarts in the middle of a transfer begins a new block for
// the rest of that transfer.
//
// Fixed tables, one byte per file read; nothing is allocated per byte.
#ifndef FWSETUP_FPGA_FPGA_DATA_READER_H
#define FWSETUP_FPGA_FPGA_DATA_READER_H

#include <cstdint>

#include "fpga/fpga_byte_file.h"
#include "fpga/fpga_format.h"
#include "platform/types.h"

class FpgaDataReader {
  public:
    FpgaDataReader();

    // The file OpenDataFile opens; an empty name means the run has no data file.
    void SetFileName(const NString& name);
    bool IsFileNamed() const { return named_; }

    // Opens the named file and reads its mode and dataset table; true at once
    // when no file is named. False when the file cannot be opened, its mode byte
    // is unknown, the table announces more than kFpgaMaxDatasets entries, an
    // entry does not start with kFpgaDatasetEntryTag, or the file ends inside
    // the table.
    bool OpenDataFile();
    // The next byte asked for starts a transfer (and, in compressed data, a block).
    void BeginTransfer();
    // The next byte of dataset id for a transfer of bits; false when there is
    // none: no file open, the end of the file, an id the table does not hold, a
    // dataset of size 0, a block type other than 0, 1 and 2, a run-length pair
    // with count 0, or more bytes asked of a block than its transfer spans.
    bool GetDataByte(uint8_t id, uint32_t bits, uint8_t& byte);
    // Back to the first byte of the data: the resume table is cleared and the
    // next byte of any dataset is its first. False when no file is open.
    bool RewindData();
    void CloseDataFile();

  private:
    struct Dataset {
        uint8_t id;
        uint32_t size;  // bytes delivered
        bool compressed;
        uint32_t address;
    };
    // How far a dataset had got: bytes delivered and stored bytes read after its
    // leading bytes. A slot with id 0 is free.
    struct ResumeSlot {
        uint8_t id;
        uint32_t delivered;
        uint32_t stored;
    };

    bool ReadHeader();
    bool ReadTable();
    bool SeekDataset(uint8_t id);
    void ClearResumeTable();
    void RecordProgress();
    // The next delivered byte of the current data, through the block decoder
    // when compressed.
    bool NextByte(bool compressed, uint8_t& byte);

    NString name_;
    bool named_;
    FpgaByteFile file_;

    bool multiple_;
    bool singleCompressed_;
    uint32_t dataStart_;  // file offset of the first data byte (single) or of address 0

    Dataset table_[kFpgaMaxDatasets];
    uint32_t datasetCount_;
    ResumeSlot resume_[kFpgaResumeSlots];

    uint32_t current_;      // index of the dataset being delivered
    uint32_t delivered_;    // its bytes delivered
    uint32_t storedStart_;  // file offset of its first stored byte
    int slot_;              // its resume slot, -1 without one
    bool needSeek_;

    // Transfer and block state.
    bool transferPending_;        // the next byte starts a transfer
    bool blockPending_;           // the next byte starts a block
    uint32_t transferBytes_;      // bytes the current transfer spans
    uint32_t transferDelivered_;  // ... of which delivered
    uint32_t blockBytes_;         // bytes the current block delivers
    uint32_t blockDelivered_;
    uint8_t blockType_;
    uint32_t repeatPending_;  // fill bytes still to deliver from a run
};

#endif
