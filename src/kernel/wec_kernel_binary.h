// The printer's kernel image: checked, then written by the flash imaging tool.
//
// The tool is started by name with the command line
//   -w -f <path> -s 1 [-v <contents of \BOOT\NK.nb0.md5>]   (main image)
//   -w -f <path> -s 2                                        (a path holding "\SAFE")
// and judged by its exit code (0 is success). The digest file is consumed when
// it was passed on; the image is deleted once the tool has been tried.
#ifndef FWSETUP_KERNEL_WEC_KERNEL_BINARY_H
#define FWSETUP_KERNEL_WEC_KERNEL_BINARY_H

#include "kernel/kernel_binary.h"

// The flash imaging tool, looked up by the platform like any bare program name.
extern const char16_t kFlashToolName[];
// The digest of the flat image, handed to the tool for the main image slot.
extern const char16_t kFlashDigestFile[];

class WecKernelBinary : public KernelBinary {
  public:
    WecKernelBinary();
    virtual ~WecKernelBinary();

    // The structure check and, when it passed, the signature check.
    virtual bool IsValidImage(const WString& path);
    // False at once for an invalid image (nothing is changed on disk); otherwise
    // true only when the tool ran and exited with 0. The image is deleted either way.
    virtual bool Flash(const WString& path);

  private:
    WecKernelBinary(const WecKernelBinary&);
    WecKernelBinary& operator=(const WecKernelBinary&);
};

#endif
