#include "engine/ident/zip_locator.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/crypt/cipher.h"
#include "engine/support/little_endian.h"
#include "engine/support/streams.h"

namespace quern {

namespace {

constexpr std::int64_t kTailWindow = 32768;
constexpr int kLocalSearchBlocks = 4;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kWideEndRecordSize = 26;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndRecordSize = 56;

// Scrambled records are deciphered from a key state of their own: the cipher's three initial
// key words, each ANDed with another of them.
constexpr std::uint32_t kInitialKey0 = 0x12345678;
constexpr std::uint32_t kInitialKey1 = 0x23456789;
constexpr std::uint32_t kInitialKey2 = 0x34567890;
constexpr std::uint32_t kScrambleKey0 = kInitialKey0 & kInitialKey2;
constexpr std::uint32_t kScrambleKey1 = kInitialKey1 & kInitialKey0;
constexpr std::uint32_t kScrambleKey2 = kInitialKey2 & kInitialKey1;

bool SignatureAt(std::span<const std::uint8_t> bytes, std::size_t at, std::uint8_t second,
                 std::uint8_t third, std::uint8_t fourth) {
  return bytes.size() >= 4 && at <= bytes.size() - 4 && bytes[at] == 'P' &&
         bytes[at + 1] == second && bytes[at + 2] == third && bytes[at + 3] == fourth;
}

// Either of the two record kinds whose signatures run "P" K/L/M/N, then two fixed bytes.
bool VariantHeaderAt(std::span<const std::uint8_t> bytes, std::size_t at, std::uint8_t third,
                     std::uint8_t fourth) {
  for (std::uint8_t second : {'K', 'L', 'M', 'N'})
    if (SignatureAt(bytes, at, second, third, fourth)) return true;
  return false;
}

// Up to `count` bytes at `position`; what came (nothing for a position before the file).
std::vector<std::uint8_t> ReadAt(TStream32& stream, std::int64_t position, std::size_t count) {
  if (position < 0 || stream.Seek(position, soFromBeginning) != position) return {};
  std::vector<std::uint8_t> bytes(count);
  bytes.resize(stream.Read(bytes.data(), count));
  return bytes;
}

// A 64-bit field of the file as a position; a value past the signed range lies nowhere.
std::int64_t AsPosition(std::uint64_t value) {
  return value > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(value);
}

}  // namespace

std::optional<std::size_t> FindEndRecord(std::span<const std::uint8_t> window) {
  for (std::size_t at = window.size() >= 4 ? window.size() - 4 + 1 : 0; at-- > 0;) {
    if (window[at] != 'P' || window[at + 2] != 0x05 || window[at + 3] != 0x06) continue;
    const std::uint8_t second = window[at + 1];
    if (second == 'K' || second == 'L' || second == '[' || second == '\\') return at;
  }
  return std::nullopt;
}

bool IsCentralHeader(std::span<const std::uint8_t> bytes) {
  return VariantHeaderAt(bytes, 0, 0x01, 0x02);
}

bool IsLocalHeader(std::span<const std::uint8_t> bytes) {
  return VariantHeaderAt(bytes, 0, 0x03, 0x04);
}

bool IsScrambled(std::span<const std::uint8_t, 4> signature) {
  return signature[1] == 'L' || signature[1] == 'N' || signature[1] == '\\';
}

void Descramble(std::span<std::uint8_t> afterSignature) {
  TTraditionalCipher cipher;
  cipher.SetKeys(kScrambleKey0, kScrambleKey1, kScrambleKey2);
  cipher.DecodeBuffer(afterSignature.data(), afterSignature.size());
}

ZipLocation LocateZipDirectory(TStream32& stream, std::int64_t archiveSize) {
  ZipLocation z;
  if (archiveSize <= 0) return z;
  // A small file's window leaves out its first byte, as a record can't start before the tail.
  const std::int64_t w = archiveSize > kTailWindow ? kTailWindow : archiveSize - 1;
  const std::int64_t windowStart = archiveSize - w;
  const std::vector<std::uint8_t> window = ReadAt(stream, windowStart, static_cast<std::size_t>(w));
  const auto found = FindEndRecord(window);
  if (!found) return z;

  const std::size_t at = *found;
  const std::int64_t e = windowStart + static_cast<std::int64_t>(at);
  z.flags = zfEndRecord;
  const bool wide = window[at + 1] == '[' || window[at + 1] == '\\';
  const std::size_t recordSize = wide ? kWideEndRecordSize : kEndRecordSize;
  const std::size_t held = std::min(recordSize, window.size() - at);
  std::copy_n(window.begin() + static_cast<std::ptrdiff_t>(at), held, z.endRecord.begin());
  if (held > 4 && IsScrambled(std::span<const std::uint8_t, 4>(z.endRecord.data(), 4)))
    Descramble(std::span(z.endRecord).subspan(4, held - 4));

  // A ZIP64 locator right before the end record, and its end record right before that.
  const std::size_t locatorAt = at - kZip64LocatorSize;
  const std::size_t zip64EndAt = locatorAt - kZip64EndRecordSize;
  if (at >= kZip64LocatorSize && SignatureAt(window, locatorAt, 'K', 0x06, 0x07)) {
    z.flags |= zfZip64Locator;
    if (at >= kZip64LocatorSize + kZip64EndRecordSize &&
        SignatureAt(window, zip64EndAt, 'K', 0x06, 0x06))
      z.flags |= zfZip64EndRecord;
  }

  const std::uint32_t directorySize = LoadLe32(z.endRecord.data() + 12);
  const std::int64_t behindEnd = e - std::int64_t{directorySize};
  std::int64_t d = behindEnd;
  if (wide) {
    d = AsPosition(LoadLe64(z.endRecord.data() + 16));
  } else if ((z.flags & (zfZip64Locator | zfZip64EndRecord)) ==
             (zfZip64Locator | zfZip64EndRecord)) {
    d = AsPosition(LoadLe64(window.data() + locatorAt + 8) -
                   LoadLe64(window.data() + zip64EndAt + 40));
  }

  std::vector<std::uint8_t> central = ReadAt(stream, d, kCentralHeaderSize);
  if (central.size() < kCentralHeaderSize) {
    d = behindEnd;
    central = ReadAt(stream, d, kCentralHeaderSize);
    if (central.size() < kCentralHeaderSize) return z;
  }
  std::int64_t prefix = 0;  // how far the data lie behind where the records say
  bool confirmed = IsCentralHeader(central);
  if (!confirmed) {
    // Data put behind other data keep their recorded offsets; the directory still ends at the
    // end record.
    d = behindEnd;
    central = ReadAt(stream, d, kCentralHeaderSize);
    if (central.size() < kCentralHeaderSize) return z;
    if (IsCentralHeader(central)) {
      confirmed = true;
      const std::uint64_t recorded =
          wide ? LoadLe64(z.endRecord.data() + 16) : LoadLe32(z.endRecord.data() + 16);
      prefix = static_cast<std::int64_t>(static_cast<std::uint64_t>(d) - recorded);
    }
  }

  if (confirmed) {
    z.flags |= zfCentralHeader;
    z.position = d;
    if (IsScrambled(std::span<const std::uint8_t, 4>(central.data(), 4)))
      Descramble(std::span(central).subspan(4));
    const std::uint64_t local =
        std::uint64_t{LoadLe32(central.data() + 42)} + static_cast<std::uint64_t>(prefix);
    const auto header = ReadAt(stream, AsPosition(local), kLocalHeaderSize);
    if (header.size() == kLocalHeaderSize && IsLocalHeader(header)) z.flags |= zfLocalHeader;
    return z;
  }

  // No directory: the first local header in the first blocks of the file will do.
  for (int block = 0; block < kLocalSearchBlocks; ++block) {
    const std::vector<std::uint8_t> bytes = ReadAt(stream, block * w, static_cast<std::size_t>(w));
    if (bytes.empty()) break;
    z.position = -1;
    for (std::size_t j = 0; j + 4 <= bytes.size(); ++j) {
      if (VariantHeaderAt(bytes, j, 0x03, 0x04)) {
        z.position = block * w + static_cast<std::int64_t>(j);
        z.flags = zfLocalHeader;
        return z;
      }
    }
  }
  return z;
}

}  // namespace quern
