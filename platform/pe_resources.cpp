// The string resources of a PE image, read as data with every offset checked.
//
// The way to a string, all little-endian:
//
//   0x00  "MZ"                    DOS header
//   0x3C  u32 e_lfanew  --------> "PE\0\0"
//                                 +4   COFF header (20 bytes): +2 u16 sections,
//                                      +16 u16 optional-header size
//                                 +24  optional header: +0 u16 magic (0x10B PE32, 0x20B PE32+),
//                                      data directories at +96 (PE32) or +112 (PE32+), their
//                                      count just before them; entry 2 = resources (rva, size)
//                                 +24 + optional-header size: section table, 40 bytes each:
//                                      +12 u32 rva, +16 u32 raw size, +20 u32 raw offset
//
//   resource directory (offsets relative to its start):
//     +12 u16 named entries, +14 u16 id entries, then 8-byte entries sorted by id after the
//     named ones: u32 id, u32 offset (high bit: a subdirectory, else a data entry).
//     Levels: type (6 = strings) -> block (id / 16 + 1) -> language -> data entry
//     data entry: u32 rva, u32 size of the block
//   string block: 16 strings, each a u16 length and that many UTF-16 units.
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace quern::platform {
namespace {

constexpr std::uint32_t kLfanewAt = 0x3C;
constexpr std::size_t kCoffSize = 20;
constexpr std::size_t kSectionSize = 40;
constexpr std::uint16_t kMaxSections = 96;  // what the system's loader accepts
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kOptionalHeaderNeeded = 240;  // up to the last data directory of PE32+
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint16_t kStringType = 6;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kSubdirectoryBit = 0x8000'0000;
constexpr std::uint32_t kStringsPerBlock = 16;

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Exactly `count` bytes at a file offset, or false.
bool ReadExact(const ByteSource& source, std::uint64_t size, std::uint64_t offset, void* buffer,
               std::size_t count) {
  if (offset > size || size - offset < count) return false;
  return count == 0 || source(offset, buffer, count) == count;
}

// UTF-16LE units in UTF-8; a unit that does not convert (a lone surrogate) becomes "?".
std::string Utf16ToUtf8(const std::uint8_t* units, std::size_t count) {
  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  std::string out;
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint16_t u = Le16(units + 2 * i);
      out += u < 0x80 ? static_cast<char>(u) : '?';
    }
    return out;
  }
  char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(units));
  std::size_t inLeft = 2 * count;
  while (inLeft > 0) {
    std::array<char, 64> buffer;
    char* next = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t done = iconv(cd, &in, &inLeft, &next, &outLeft);
    out.append(buffer.data(), static_cast<std::size_t>(next - buffer.data()));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // An unpaired surrogate, or one cut off at the end: one "?" for its unit.
      out += '?';
      const std::size_t skip = inLeft < 2 ? inLeft : 2;
      in += skip;
      inLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

ProgramStrings::ProgramStrings(ByteSource source, std::uint64_t size, std::vector<Section> sections,
                               std::uint32_t directoryRva, std::uint32_t directorySize)
    : source_(std::move(source)),
      size_(size),
      sections_(std::move(sections)),
      directoryRva_(directoryRva),
      directorySize_(directorySize) {}

std::optional<ProgramStrings> ProgramStrings::Open(ByteSource source, std::uint64_t size) {
  std::array<std::uint8_t, 64> dos{};
  if (!ReadExact(source, size, 0, dos.data(), dos.size()) || dos[0] != 'M' || dos[1] != 'Z')
    return std::nullopt;
  const std::uint64_t pe = Le32(dos.data() + kLfanewAt);

  std::array<std::uint8_t, 4 + kCoffSize> headers{};
  if (!ReadExact(source, size, pe, headers.data(), headers.size()) ||
      std::memcmp(headers.data(), "PE\0\0", 4) != 0)
    return std::nullopt;
  const std::uint16_t sectionCount = Le16(headers.data() + 4 + 2);
  const std::uint16_t optionalSize = Le16(headers.data() + 4 + 16);
  if (sectionCount > kMaxSections) return std::nullopt;

  const std::uint64_t optionalAt = pe + headers.size();
  // Only the part up to the data directories matters; the section table follows the whole.
  std::vector<std::uint8_t> optional(std::min<std::size_t>(optionalSize, kOptionalHeaderNeeded));
  if (!ReadExact(source, size, optionalAt, optional.data(), optional.size()) || optional.size() < 2)
    return std::nullopt;
  std::size_t directoriesAt = 0;
  switch (Le16(optional.data())) {
    case kMagicPe32:
      directoriesAt = 96;
      break;
    case kMagicPe32Plus:
      directoriesAt = 112;
      break;
    default:
      return std::nullopt;
  }
  // The resource entry must be both counted and inside the optional header.
  const std::size_t resourceAt = directoriesAt + 8 * kResourceDirectoryIndex;
  if (resourceAt + 8 > optional.size() ||
      Le32(optional.data() + directoriesAt - 4) <= kResourceDirectoryIndex)
    return std::nullopt;
  const std::uint32_t directoryRva = Le32(optional.data() + resourceAt);
  const std::uint32_t directorySize = Le32(optional.data() + resourceAt + 4);

  std::vector<std::uint8_t> table(std::size_t{sectionCount} * kSectionSize);
  if (!ReadExact(source, size, optionalAt + optionalSize, table.data(), table.size()))
    return std::nullopt;
  std::vector<Section> sections;
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const std::uint8_t* s = table.data() + i * kSectionSize;
    sections.push_back({Le32(s + 12), Le32(s + 16), Le32(s + 20)});
  }

  ProgramStrings strings(std::move(source), size, std::move(sections), directoryRva, directorySize);
  std::array<std::uint8_t, kDirectoryHeaderSize> root{};
  if (directorySize == 0 || !strings.ReadDirectory(0, root.data(), root.size()))
    return std::nullopt;
  return strings;
}

std::optional<std::uint64_t> ProgramStrings::FileOffset(std::uint64_t rva,
                                                        std::uint64_t count) const {
  for (const Section& s : sections_) {
    // Only bytes the file holds count: a section's tail beyond its raw data is not in the file.
    if (rva < s.virtualAddress) continue;
    const std::uint64_t within = rva - s.virtualAddress;
    if (within > s.rawSize || s.rawSize - within < count) continue;
    const std::uint64_t offset = std::uint64_t{s.rawOffset} + within;
    if (offset > size_ || size_ - offset < count) return std::nullopt;
    return offset;
  }
  return std::nullopt;
}

bool ProgramStrings::ReadRva(std::uint32_t rva, void* buffer, std::size_t count) const {
  const auto offset = FileOffset(rva, count);
  return offset && ReadExact(source_, size_, *offset, buffer, count);
}

bool ProgramStrings::ReadDirectory(std::uint32_t offset, void* buffer, std::size_t count) const {
  if (offset > directorySize_ || directorySize_ - offset < count) return false;
  const std::uint64_t rva = std::uint64_t{directoryRva_} + offset;
  if (rva > UINT32_MAX) return false;
  return ReadRva(static_cast<std::uint32_t>(rva), buffer, count);
}

std::optional<std::uint32_t> ProgramStrings::FindEntry(std::uint32_t offset,
                                                       std::uint16_t id) const {
  std::array<std::uint8_t, kDirectoryHeaderSize> header{};
  if (!ReadDirectory(offset, header.data(), header.size())) return std::nullopt;
  const std::uint32_t named = Le16(header.data() + 12);
  const std::uint32_t ids = Le16(header.data() + 14);
  // The numbered entries follow the named ones in ascending order, as the loader's own binary
  // search expects; a table out of order simply does not find what it holds.
  std::uint32_t low = 0;
  std::uint32_t high = ids;
  while (low < high) {
    const std::uint32_t mid = low + (high - low) / 2;
    std::array<std::uint8_t, kEntrySize> entry{};
    const std::uint64_t at =
        offset + kDirectoryHeaderSize + std::uint64_t{named + mid} * kEntrySize;
    if (at > UINT32_MAX ||
        !ReadDirectory(static_cast<std::uint32_t>(at), entry.data(), entry.size()))
      return std::nullopt;
    const std::uint32_t entryId = Le32(entry.data());
    if (entryId == id) return Le32(entry.data() + 4);
    if (entryId < id)
      low = mid + 1;
    else
      high = mid;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> ProgramStrings::FirstEntry(std::uint32_t offset) const {
  std::array<std::uint8_t, kDirectoryHeaderSize> header{};
  if (!ReadDirectory(offset, header.data(), header.size())) return std::nullopt;
  if (Le16(header.data() + 12) + Le16(header.data() + 14) == 0) return std::nullopt;
  std::array<std::uint8_t, kEntrySize> entry{};
  if (!ReadDirectory(offset + kDirectoryHeaderSize, entry.data(), entry.size()))
    return std::nullopt;
  return Le32(entry.data() + 4);
}

std::string ProgramStrings::Load(std::uint16_t id, std::size_t maxChars) const {
  // Type and block lead to subdirectories, the language to a data entry; any other kind of
  // entry on the way means the directory is not what it claims to be.
  const auto type = FindEntry(0, kStringType);
  if (!type || !(*type & kSubdirectoryBit)) return {};
  const auto block =
      FindEntry(*type & ~kSubdirectoryBit, static_cast<std::uint16_t>(id / kStringsPerBlock + 1));
  if (!block || !(*block & kSubdirectoryBit)) return {};
  // Any language will do: a program that names an archive position names it once.
  const auto language = FirstEntry(*block & ~kSubdirectoryBit);
  if (!language || (*language & kSubdirectoryBit)) return {};
  std::array<std::uint8_t, kDataEntrySize> data{};
  if (!ReadDirectory(*language, data.data(), data.size())) return {};
  const std::uint32_t blockRva = Le32(data.data());
  const std::uint32_t blockSize = Le32(data.data() + 4);
  // The whole block must be in the file, not only the strings before the one asked for.
  if (!FileOffset(blockRva, blockSize)) return {};

  std::uint64_t at = 0;  // within the block
  for (std::uint32_t index = 0;; ++index) {
    std::array<std::uint8_t, 2> length{};
    if (at + length.size() > blockSize || blockRva + at > UINT32_MAX ||
        !ReadRva(static_cast<std::uint32_t>(blockRva + at), length.data(), length.size()))
      return {};
    const std::uint64_t units = Le16(length.data());
    at += length.size();
    if (at + 2 * units > blockSize) return {};
    if (index == id % kStringsPerBlock) {
      const std::size_t kept = units < maxChars ? static_cast<std::size_t>(units) : maxChars;
      std::vector<std::uint8_t> text(2 * kept);
      if (blockRva + at > UINT32_MAX ||
          !ReadRva(static_cast<std::uint32_t>(blockRva + at), text.data(), text.size()))
        return {};
      return Utf16ToUtf8(text.data(), kept);
    }
    at += 2 * units;
  }
}

}  // namespace quern::platform
