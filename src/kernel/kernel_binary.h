// A kernel image that can be checked and written to flash.
#ifndef FWSETUP_KERNEL_KERNEL_BINARY_H
#define FWSETUP_KERNEL_KERNEL_BINARY_H

#include "platform/types.h"

class KernelBinary {
  public:
    virtual ~KernelBinary() {}
    // True when the image file at path passes the structure and signature checks.
    virtual bool IsValidImage(const WString& path) = 0;
    // Checks the image, writes it to flash and deletes it; true on success.
    virtual bool Flash(const WString& path) = 0;
};

#endif
