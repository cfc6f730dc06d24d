// A temporary simulated printer that holds copies of host files, so that the
// module's own code can read them at device paths without touching the
// originals (or a real printer's folder).
#ifndef FWSETUP_SIM_STAGING_DEVICE_H
#define FWSETUP_SIM_STAGING_DEVICE_H

#include <filesystem>
#include <string>

namespace sim {

// Made in $TMPDIR (else /tmp) and made this process's device while it exists;
// the device root before it is restored and the folder removed afterwards.
class StagingDevice {
  public:
    // Throws std::runtime_error when the folder cannot be made.
    StagingDevice();
    ~StagingDevice();
    StagingDevice(const StagingDevice&) = delete;
    StagingDevice& operator=(const StagingDevice&) = delete;

    // Copies a host file to the device path relative (below fs/, "/" separated),
    // making the folders on the way. Throws std::runtime_error.
    void Put(const std::filesystem::path& from, const std::string& relative) const;
    // DEVICE/hw/<name>, for the hardware files a test or tool puts there.
    std::filesystem::path Hw(const std::string& name) const { return root_ / "hw" / name; }

  private:
    std::string previous_;
    std::filesystem::path root_;
};

}  // namespace sim

#endif
