// The module's link to the FPGA: the process-wide SPI/GPIO transport.
#include "fpga/fpga_link.h"
#include "fpga/fpga_spi_transport.h"

FpgaLink& DefaultFpgaLink() {
    return TheFpgaSpiTransport();
}
