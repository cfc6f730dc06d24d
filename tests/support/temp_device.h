// A simulated printer in a fresh temporary folder for one test; removed afterwards.
#ifndef FWSETUP_TESTS_SUPPORT_TEMP_DEVICE_H
#define FWSETUP_TESTS_SUPPORT_TEMP_DEVICE_H

#include <filesystem>
#include <string>
#include <vector>

#include "platform/types.h"

namespace fwtest {

class TempDevice {
public:
    // Makes DEVICE with empty fs/ and hw/ and makes it this process's device root.
    TempDevice();
    // Removes DEVICE and everything in it (read-only entries included).
    ~TempDevice();
    TempDevice(const TempDevice&) = delete;
    TempDevice& operator=(const TempDevice&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Fs() const { return root_ / "fs"; }
    std::filesystem::path Hw() const { return root_ / "hw"; }
    // The host path of a device path, taken literally (no case folding): "\boot\a" -> fs/boot/a.
    std::filesystem::path Host(const std::string& devicePath) const;

    // Writes a file at a device path (taken literally), creating folders.
    void Write(const std::string& devicePath, const std::string& contents) const;
    void WriteBytes(const std::string& devicePath, const std::vector<uint8_t>& contents) const;
    // Reads a file at a device path; empty when it is missing.
    std::string Read(const std::string& devicePath) const;
    bool Exists(const std::string& devicePath) const;
    void MakeDir(const std::string& devicePath) const;
    // Clears or sets the owner write bit (the read-only attribute).
    void SetReadOnly(const std::string& devicePath, bool readOnly) const;

private:
    std::filesystem::path root_;
};

// Removes a folder tree even where write bits were cleared.
void RemoveTree(const std::filesystem::path& path);
// u"..." from an ASCII/UTF-8 literal, for readable tests.
WString W(const std::string& ascii);

}  // namespace fwtest

#endif
