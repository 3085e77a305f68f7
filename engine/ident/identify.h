// Archive identification: which archive a file holds and where its data begin.
//
// The signature tests are pure predicates over byte spans; the reads that gather the bytes are
// kept in IdentifyArchive, so every test can be run on a hand-built buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/support/qrn_gbls.h"

namespace quern {

class TStream32;

// Where four signature bytes were found: at the start of the file (or after its leading zero
// bytes), or at a computed position inside a program file.
enum class SignatureContext { Start, Inside };

// What four bytes alone cannot settle: the records that start a split ZIP set are told apart by
// the drive the file lies on.
enum class FollowUp : std::uint8_t {
  None,
  SplitSetKind,            // the type is the split-set kind of the file
  SplitSetKindThenLocate,  // the same, and the ZIP directory locator runs after it
};

struct Classification {
  TArcType type = atNA;      // atNA while a follow-up is pending
  std::int64_t offset = -1;  // set by the few signatures that imply a fixed archive offset
  FollowUp followUp = FollowUp::None;
};

// Classifies four bytes.
Classification ClassifySignature(std::span<const std::uint8_t, 4> bytes, SignatureContext context);

// One match of the forward scan within a block; `position` is the file position of the match.
struct ScanMatch {
  TArcType type = atNA;
  std::int64_t offset = 0;
};

// Looks for an archive signature in one block read from file position `blockStart` of a file of
// `archiveSize` bytes; `scanStart` is where the whole scan began (0 or 17000). Returns the first
// match in the block, if any.
std::optional<ScanMatch> ScanBlockForSignature(std::span<const std::uint8_t> block,
                                               std::int64_t blockStart, std::int64_t scanStart,
                                               std::int64_t archiveSize);

// True when the data read from the start of a file look uuencoded.
bool LooksUuencoded(std::span<const std::uint8_t> head);
// True when a 512-byte tar header's checksum field matches its bytes.
bool TarChecksumMatches(std::span<const std::uint8_t, 512> header);

struct Identification {
  TArcType type = atNA;
  std::int64_t size = 0;     // the file's length
  std::int64_t offset = -1;  // where the archive data begin; -1 when not an archive
};

// Identifies the archive in an open stream of the file `fileName`. The name decides between
// ZIP and JAR by its extension and names the drive that tells split ZIP sets apart. Program
// files are searched for their string resources through the stream itself; nothing of them is
// run. Never throws and never reports: a failure ends identification with what was found so
// far.
Identification IdentifyArchive(TStream32& stream, std::string_view fileName);

}  // namespace quern
