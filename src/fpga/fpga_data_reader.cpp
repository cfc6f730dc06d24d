#include "fpga/fpga_data_reader.h"

#include <cstring>

FpgaDataReader::FpgaDataReader()
    : named_(false),
      multiple_(false),
      singleCompressed_(false),
      dataStart_(0),
      datasetCount_(0),
      current_(0),
      delivered_(0),
      storedStart_(0),
      slot_(-1),
      needSeek_(true),
      transferPending_(true),
      blockPending_(true),
      transferBytes_(0),
      transferDelivered_(0),
      blockBytes_(0),
      blockDelivered_(0),
      blockType_(kFpgaBlockPlain),
      repeatPending_(0) {
    std::memset(table_, 0, sizeof(table_));
    ClearResumeTable();
}

void FpgaDataReader::SetFileName(const NString& name) {
    name_ = name;
    named_ = !name.empty();
}

bool FpgaDataReader::OpenDataFile() {
    CloseDataFile();
    multiple_ = false;
    singleCompressed_ = false;
    dataStart_ = 0;
    datasetCount_ = 0;
    ClearResumeTable();
    current_ = 0;
    delivered_ = 0;
    slot_ = -1;
    needSeek_ = true;
    transferPending_ = true;
    blockPending_ = true;
    repeatPending_ = 0;
    if (!named_)
        return true;
    if (!file_.Open(name_))
        return false;
    if (!ReadHeader()) {
        file_.Close();
        return false;
    }
    return true;
}

bool FpgaDataReader::ReadHeader() {
    uint8_t mode;
    if (!file_.ReadByte(mode))
        return false;
    if (mode == kFpgaTagCommentStart) {
        uint8_t byte;
        do {
            if (!file_.ReadByte(byte))
                return false;
        } while (byte != kFpgaTagCommentEnd);
        if (!file_.ReadByte(mode))
            return false;
    }
    if (mode == kFpgaDataModePlain || mode == kFpgaDataModeCompressed) {
        singleCompressed_ = mode == kFpgaDataModeCompressed;
        dataStart_ = file_.Position();
        return true;
    }
    if (mode == kFpgaDataModeMultiple) {
        multiple_ = true;
        if (!ReadTable())
            return false;
        dataStart_ = file_.Position();
        return true;
    }
    return false;
}

bool FpgaDataReader::ReadTable() {
    uint8_t count;
    if (!file_.ReadByte(count) || count > kFpgaMaxDatasets)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t tag, id, unused, compression;
        if (!file_.ReadByte(tag) || tag != kFpgaDatasetEntryTag)
            return false;
        if (!file_.ReadByte(id) || !file_.ReadByte(unused))
            return false;
        uint32_t size = 0, shift = 0;
        uint8_t byte;
        do {
            if (!file_.ReadByte(byte))
                return false;
        } while (FpgaVarintAdd(byte, size, shift));
        if (!file_.ReadByte(compression))
            return false;
        uint32_t address = 0;
        for (int k = 0; k < 4; ++k) {
            if (!file_.ReadByte(byte))
                return false;
            address = (address << 8) | byte;
        }
        table_[i].id = id;
        table_[i].size = size;
        table_[i].compressed = compression != kFpgaDatasetPlain;
        table_[i].address = address;
    }
    datasetCount_ = count;
    return true;
}

void FpgaDataReader::BeginTransfer() {
    transferPending_ = true;
}

bool FpgaDataReader::GetDataByte(uint8_t id, uint32_t bits, uint8_t& byte) {
    if (!file_.IsOpen())
        return false;
    if (transferPending_) {
        transferPending_ = false;
        transferBytes_ = FpgaByteCount(bits);
        transferDelivered_ = 0;
        blockPending_ = true;
    }
    if (!multiple_) {
        if (!NextByte(singleCompressed_, byte))
            return false;
        ++transferDelivered_;
        return true;
    }
    if (needSeek_ || table_[current_].id != id) {
        if (!SeekDataset(id))
            return false;
    }
    // Once every byte went out, need-seek is set: the dataset starts again
    // from its first byte.
    if (table_[current_].size == 0)
        return false;
    if (!NextByte(table_[current_].compressed, byte))
        return false;
    ++delivered_;
    ++transferDelivered_;
    RecordProgress();
    if (delivered_ == table_[current_].size) {
        current_ = 0;
        needSeek_ = true;
    }
    return true;
}

bool FpgaDataReader::SeekDataset(uint8_t id) {
    uint32_t index = 0;
    while (index < datasetCount_ && table_[index].id != id)
        ++index;
    if (index == datasetCount_)
        return false;
    const Dataset& dataset = table_[index];
    const uint64_t at = static_cast<uint64_t>(dataStart_) + dataset.address;
    if (at + kFpgaDatasetLeadingBytes > 0xFFFFFFFFull)
        return false;
    current_ = index;
    file_.Seek(static_cast<uint32_t>(at));
    uint8_t unused;
    for (uint32_t i = 0; i < kFpgaDatasetLeadingBytes; ++i) {
        if (!file_.ReadByte(unused))
            return false;
    }
    storedStart_ = file_.Position();
    delivered_ = 0;
    slot_ = -1;
    for (uint32_t i = 0; i < kFpgaResumeSlots; ++i) {
        if (resume_[i].id == id) {
            slot_ = static_cast<int>(i);
            break;
        }
    }
    if (slot_ >= 0) {
        const ResumeSlot& slot = resume_[slot_];
        const uint64_t resumeAt = static_cast<uint64_t>(storedStart_) + slot.stored;
        if (slot.delivered < dataset.size && resumeAt <= 0xFFFFFFFFull) {
            delivered_ = slot.delivered;
            file_.Seek(static_cast<uint32_t>(resumeAt));
        }
    }
    needSeek_ = false;
    // Stored data is in step with the transfers: whatever comes next starts a block.
    blockPending_ = true;
    repeatPending_ = 0;
    return true;
}

void FpgaDataReader::ClearResumeTable() {
    std::memset(resume_, 0, sizeof(resume_));
}

void FpgaDataReader::RecordProgress() {
    const Dataset& dataset = table_[current_];
    if (delivered_ == dataset.size) {
        if (slot_ >= 0)
            resume_[slot_].id = 0;
        slot_ = -1;
        return;
    }
    if (slot_ < 0) {
        for (uint32_t i = 0; i < kFpgaResumeSlots; ++i) {
            if (resume_[i].id == 0) {
                slot_ = static_cast<int>(i);
                resume_[i].id = dataset.id;
                break;
            }
        }
        if (slot_ < 0)
            return;  // every slot taken: this dataset's progress is not kept
    }
    resume_[slot_].delivered = delivered_;
    resume_[slot_].stored = file_.Position() - storedStart_;
}

bool FpgaDataReader::NextByte(bool compressed, uint8_t& byte) {
    if (!compressed)
        return file_.ReadByte(byte);
    if (blockPending_) {
        uint8_t type;
        if (!file_.ReadByte(type) || type >= kFpgaBlockTypeCount)
            return false;
        blockPending_ = false;
        blockType_ = type;
        blockBytes_ = transferBytes_ - transferDelivered_;
        blockDelivered_ = 0;
        repeatPending_ = 0;
    }
    if (blockDelivered_ >= blockBytes_)
        return false;
    if (blockType_ == kFpgaBlockPlain) {
        if (!file_.ReadByte(byte))
            return false;
    } else {
        const uint8_t fill = FpgaBlockFillByte(blockType_);
        if (repeatPending_ > 0) {
            byte = fill;
            --repeatPending_;
        } else {
            if (!file_.ReadByte(byte))
                return false;
            if (byte == fill) {
                uint8_t count;
                if (!file_.ReadByte(count) || count == 0)
                    return false;
                repeatPending_ = count - 1u;
            }
        }
    }
    ++blockDelivered_;
    return true;
}

bool FpgaDataReader::RewindData() {
    if (!file_.IsOpen())
        return false;
    ClearResumeTable();
    slot_ = -1;
    current_ = 0;
    delivered_ = 0;
    // Several datasets: the next byte comes from the start of its dataset, not
    // from whatever follows the table.
    needSeek_ = true;
    transferPending_ = true;
    blockPending_ = true;
    repeatPending_ = 0;
    file_.Seek(dataStart_);
    return true;
}

void FpgaDataReader::CloseDataFile() {
    file_.Close();
}
