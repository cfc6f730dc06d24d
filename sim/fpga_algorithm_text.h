// FPGA algorithm files in a text form a firmware engineer reads and writes.
//
// One item per line; "#" starts a remark up to the end of the line (outside
// quotes). Numbers are decimal or 0x hexadecimal; byte lists are hexadecimal
// pairs, spaced or not ("3c 00 a1" or "3c00a1"). A line may start with an
// offset label ("00001f:"), as the disassembler writes them; it is ignored.
//
// The header, one line per item, in this order:
//   comment "TEXT"          a comment block before the id (none or several)
//   id 0x01020304           the algorithm id
//   version 4 0 0           the three version bytes
//   buffer_size N           (not used by the engine)
//   nesting N               the nesting depth the engine checks (at most 3)
//   mask_size N             (not used by the engine)
//   channel N               handed to StartTransaction
//   compression N [tag 0xa0]   (not used); written with tag 0xa9 unless told
//   checksum auto|0xHHHH    auto: the low 16 bits of the sum of every byte before
//   begin                   the start of the algorithm stream
//
// The stream, one opcode per line:
//   start_transaction / end_transaction
//   transmit BITS inline HEX...   the bytes that span BITS (BITS/8 rounded up)
//   transmit BITS dataset         the next bytes of dataset 0x27
//   receive BITS
//   mask HEX...                   one mask byte per byte of the current transfer
//   inline_data [HEX...]          after a receive: the expected bytes; after a
//                                 transmit: none (the inline bytes go out again)
//   dataset_data                  dataset 4: sent, or compared without failing
//   checked_dataset_data          dataset 0x27: sent, or compared
//   reset_data
//   run_clock N / nop_count N / wait MS
//   repeat N ... end_repeat / loop N ... end_loop
//   end_of_algorithm
//   comment "TEXT"
//   bytes HEX...                  raw bytes, written as they are, unchecked
// A count may also be written as its exact encoding in brackets ("[88 00]" is 8
// written in two bytes), as the disassembler shows an encoding that is not the
// shortest one. Texts take the escapes \\ \" \n \t \r and \xNN.
//
// The assembler refuses, naming the line, what the engine would refuse or read
// differently: values out of range, zero counts, byte lists of the wrong
// length, inputs beyond the engine's buffers, opcodes outside the level where
// they belong, bodies nested too deep or longer than the body buffer, and body
// bytes that the engine's bytewise scan for the end of a body would split
// elsewhere (an operand byte with the value of a repeat or loop marker, or of a
// comment start). `bytes` lines are the way to write such files on purpose: a
// text that starts with them is raw bytes throughout, and a stream whose last
// item is raw is not checked for its end. A text without any item is an empty
// file.
#ifndef FWSETUP_SIM_FPGA_ALGORITHM_TEXT_H
#define FWSETUP_SIM_FPGA_ALGORITHM_TEXT_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// A text that does not assemble; what() starts with "line N: ".
class FpgaTextError : public std::runtime_error {
  public:
    FpgaTextError(int line, const std::string& what);
    int Line() const { return line_; }

  private:
    int line_;
};

// The algorithm file of a text. Throws FpgaTextError.
std::vector<uint8_t> AssembleFpgaAlgorithm(const std::string& text);

// The text of an algorithm file with each line's offset, indented by body and
// transaction, with remarks on what the engine makes of it (where it would stop
// and with which result). AssembleFpgaAlgorithm of the text gives the same bytes
// for any input; what cannot be written as opcodes comes out as `bytes` lines.
std::string DisassembleFpgaAlgorithm(const std::vector<uint8_t>& file);

}  // namespace sim

#endif
