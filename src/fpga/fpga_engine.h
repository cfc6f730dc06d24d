// The FPGA programming engine: runs the FPGA package's algorithm file, a
// byte-coded program of transfers, comparisons, waits, repeats and loops,
// against the FPGA over CurrentFpgaLink(), with the bulk data from the data
// file. The layouts of both files and the result codes are in fpga_format.h.
//
// Rules the engine keeps besides the layouts:
// - A transaction starts at OP_TRANSMIT or OP_RECEIVE with a fresh state and
//   ends at OP_END_TRANSACTION, whose result is kFpgaVerifyFailed when any
//   comparison of the transaction counted a mismatch. Inside a repeat or loop
//   body it also ends, without EndTransaction, at the end of the body or at an
//   opcode of the main level (which is then skipped).
// - A transfer spans whole bytes. Bytes from a dataset for a transfer of b bits
//   (c = b mod 8 not 0) are shifted so that the FPGA receives 8 - c one-bits and
//   then the first b bits of the dataset. A comparison ignores what a mask byte
//   clears (bytes beyond the last mask byte given are compared in full) and, in
//   the last byte of a partial transfer, the bits after the transfer's end.
// - A repeat runs its body count times and stops at the first failure; a loop
//   runs it until one run succeeds, at most count times (else kFpgaLoopFailed).
//   Bodies nest at most kFpgaMaxNestingDepth deep.
// - Inputs beyond the fixed buffers are stream errors (kFpgaStreamError):
//   inline bytes beyond kFpgaDataBufferSize, a received or dataset transfer
//   beyond kFpgaReceiveBufferSize, a body beyond kFpgaBodyBufferSize, a mask for
//   a transfer beyond kFpgaMaskMaxBits.
// - Once InitHardware succeeded, CloseHardware follows whatever happens; when it
//   fails after the stream ran, the result becomes kFpgaTransferFailed.
//
// One run at a time: the engine's state is process-wide.
#ifndef FWSETUP_FPGA_FPGA_ENGINE_H
#define FWSETUP_FPGA_FPGA_ENGINE_H

#include <cstdint>

#include "platform/types.h"

// The temporary copy of the peripheral configuration that the link makes while
// it looks for its hardware; ProgramFpga deletes it.
extern const WString kFpgaTempPeripheralConfigPath;

// Names the files the next RunAlgorithm reads (narrow device paths, at most
// kFpgaMaxFileNameLength characters each); an empty dataPath means no data file.
void SetFpgaFiles(const NString& algorithmPath, const NString& dataPath);

// Runs the named algorithm file; algorithmId must match the file's id unless it
// is kFpgaAnyAlgorithmId. kFpgaSuccess or a negative result (fpga_format.h).
int RunAlgorithm(uint32_t algorithmId);

// Programs the FPGA from the package's files: names them, runs the algorithm
// with any id, then deletes both files and the temporary peripheral
// configuration whatever the outcome. True when the run returned kFpgaSuccess.
bool ProgramFpga(const NString& algorithmPath, const NString& dataPath);

#endif
