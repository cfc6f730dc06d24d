// A data file and its digest sidecar, replaced as one so that a power cut at
// any moment leaves either the old pair or the new one on the device.
//
// The printer's file system cannot move a file onto an existing name, so a
// pair (D, S) is never rewritten in place. A replacement goes through two
// pending files beside it, D + ".tmp" and S + ".tmp":
//
//   1. write the new data into D.tmp and flush it to stable storage;
//   2. write the digest of the new data into S.tmp and flush it. From here on the
//      new pair is complete: S.tmp holds the digest of D.tmp;
//   3. delete D, delete S;
//   4. move D.tmp to D, move S.tmp to S (a move is on stable storage once it
//      has returned).
//
// Settle, run before a pair is read and before it is replaced again, finds
// what a cut left and takes it to a whole pair:
//
//   D.tmp and S.tmp, D.tmp matching S.tmp   cut in steps 3-4: steps 3 and 4 are
//                                           finished (the new pair)
//   D.tmp and S.tmp that do not match       cut in step 2: S.tmp, then D.tmp are
//                                           deleted (the old pair)
//   D.tmp alone                             cut in step 1 or 2: deleted (the old pair)
//   S.tmp alone                             cut between the two moves of step 4:
//                                           S.tmp becomes S (the new pair), unless
//                                           S is there and matches D (then S.tmp is
//                                           left over and deleted)
//
// Every state a cut can leave inside Settle is again one of these rows, so
// Settle may itself be cut and run again. Until step 2 is complete the old
// pair is untouched; after it the new pair is complete and only ever moves.
#ifndef FWSETUP_PROPERTIES_ARCHIVE_FILES_H
#define FWSETUP_PROPERTIES_ARCHIVE_FILES_H

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace ArchiveFiles {

// A data file and the sidecar holding its digest.
struct FilePair {
    FilePair(const WString& dataPath, const WString& sidecarPath)
        : data(dataPath), sidecar(sidecarPath) {}
    WString data;
    WString sidecar;
};

// The pending name of a file of a pair: path + ".tmp".
WString PendingName(const WString& path);

// True when the data file exists and matches its sidecar.
bool IsWhole(const FilePair& pair);

// Writes digest (a digest text) into sidecar, alone; false for an empty digest
// or when not all of it was written.
bool WriteDigestText(const NString& digest, const WString& sidecar);

// The digest text of size bytes at data (empty on failure).
NString DigestOf(const uint8_t* data, size_t size);

// Finishes or discards a replacement of the pair that was cut (see above).
void Settle(const FilePair& pair);

// Settles the pair, then replaces it by size bytes of data and their digest.
// False when the replacement could not be made; the pair then holds its old
// files, or the new ones when only the final moves failed (Settle finishes them).
bool ReplaceWithBytes(const FilePair& pair, const uint8_t* data, size_t size);

// Settles the pair, then replaces it by copies of source, which must be whole.
// False when source is not whole or the replacement could not be made.
bool ReplaceWithCopy(const FilePair& pair, const FilePair& source);

}  // namespace ArchiveFiles

#endif
