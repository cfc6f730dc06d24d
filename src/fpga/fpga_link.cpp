#include "fpga/fpga_link.h"

#include <cstddef>

namespace {

FpgaLink* g_installedLink = NULL;

}  // namespace

FpgaLink& CurrentFpgaLink() {
    return g_installedLink != NULL ? *g_installedLink : DefaultFpgaLink();
}

void SetFpgaLink(FpgaLink* link) {
    g_installedLink = link;
}
