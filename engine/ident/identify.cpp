#include "engine/ident/identify.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/ident/zip_locator.h"
#include "engine/support/disk_manager.h"
#include "engine/support/little_endian.h"
#include "engine/support/streams.h"
#include "platform/platform.h"

namespace quern {

namespace {

constexpr std::size_t kHeadBytes = 32767;     // what the first look reads from the start
constexpr std::int64_t kMinArchiveSize = 20;  // 19 bytes or fewer hold no archive
constexpr std::size_t kScanBlock = 32768;     // forward-scan block; blocks do not overlap
constexpr int kScanBlocks = 11;               // at most this many blocks are scanned
constexpr std::int64_t kProgramScanStart = 17000;
constexpr std::int64_t kArcStubOffset = 7716;  // where ARC self-extractors keep their archive
constexpr std::size_t kUuencodeBytes = 5000;
constexpr std::size_t kTarBlock = 512;

bool StartsWith(std::span<const std::uint8_t> data, std::size_t at, std::string_view text) {
  return at <= data.size() && data.size() - at >= text.size() &&
         std::memcmp(data.data() + at, text.data(), text.size()) == 0;
}

bool HasAceMarker(std::span<const std::uint8_t> head) {
  return StartsWith(head, 7, "**ACE**");
}

bool IsArchiveType(TArcType type) {
  return !IsNoArchive(type);
}

// Reads up to `count` bytes at `position`; what came (nothing for a position before the file).
std::vector<std::uint8_t> ReadAt(TStream32& stream, std::int64_t position, std::size_t count) {
  if (position < 0 || stream.Seek(position, soFromBeginning) != position) return {};
  std::vector<std::uint8_t> bytes(count);
  bytes.resize(stream.Read(bytes.data(), count));
  return bytes;
}

// A position written as text in a program's string table: an optional sign and decimal digits.
std::optional<std::int64_t> ParsePosition(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18) return std::nullopt;  // 18 digits cannot overflow
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

constexpr std::uint16_t kFirstPositionString = 1;  // string resources that may name a position
constexpr std::uint16_t kLastPositionString = 7;
constexpr std::size_t kPositionStringChars = 5;  // room for positions up to 99999

class Identifier {
 public:
  Identifier(TStream32& stream, std::string_view fileName) : s_(stream), fileName_(fileName) {}

  Identification Run() {
    id_.offset = -1;
    try {
      id_.size = s_.Size();
      if (id_.size >= kMinArchiveSize) {
        head_ = ReadAt(s_, 0, kHeadBytes);
        // Tests at fixed offsets of the head see zeros where the file ended.
        headRead_ = head_.size();
        head_.resize(kHeadBytes + 1, 0);
        if (headRead_ > 0) StartsWith(head_, 0, "MZ") ? IdentifyProgramFile() : IdentifyPlainFile();
      }
    } catch (...) {
      // A failure part-way leaves the type found so far.
    }
    Finish();
    return id_;
  }

 private:
  void IdentifyProgramFile() {
    if (const auto probed = FixedOffsetProbe()) {
      id_.type = *probed;
      if (id_.type == atZipExe) id_.offset = Locate();
      return;
    }
    if (const auto probed = StringTableProbe()) {
      id_.type = *probed;
      return;
    }
    if (const auto probed = ImageEndProbe()) {
      id_.type = *probed;
      return;
    }
    id_.offset = Locate();
    if (id_.offset > 0) {
      id_.type = atZipExe;
      return;
    }
    id_.type = ForwardScan(kProgramScanStart);
  }

  void IdentifyPlainFile() {
    std::size_t p = 0;
    if (head_[0] == 0) {
      const auto read = head_.begin() + static_cast<std::ptrdiff_t>(headRead_);
      const std::size_t zeros = static_cast<std::size_t>(
          std::find_if(head_.begin(), read, [](std::uint8_t b) { return b != 0; }) - head_.begin());
      // An LHA archive behind a 128-byte prefix that starts with a zero byte.
      if (headRead_ - zeros > 132 && head_[130] == '-' && head_[131] == 'l') {
        id_.offset = 128;
        id_.type = atLha;
        return;
      }
      p = zeros;
    }

    TArcType t = atNA;
    if (headRead_ - p >= 4) {
      const Classification c =
          Classify(std::span<const std::uint8_t, 4>(head_.data() + p, 4), SignatureContext::Start);
      t = c.type;
      if (c.offset >= 0)
        id_.offset = c.offset;
      else if (IsArchiveType(t))
        id_.offset = static_cast<std::int64_t>(p);  // the archive begins after the zeros
    }
    id_.type = t;
    if (t == atFileOpenErr || t == atUnknown) return;
    if (IsZipFamily(t)) {
      id_.offset = Locate();
      if (!(zip_.flags & zfLocalHeader) && id_.offset == 0) {
        id_.offset = static_cast<std::int64_t>(p);
        zip_.flags |= zfLocalHeader;
      }
    } else if (t == atZipDS || t == atZipMV) {
      id_.offset = Locate();
    } else if (t != atNA && HasAceMarker(head_)) {
      id_.type = t = atAce;
    }
    if (IsArchiveType(t)) return;

    if (HasAceMarker(head_)) {
      id_.type = atAce;
    } else if (LooksUuencoded(std::span(head_).first(std::min(headRead_, kUuencodeBytes)))) {
      id_.type = atUUE;
    } else if (IsTar()) {
      id_.type = atTar;
    } else if (id_.offset = Locate(); id_.offset > 0) {
      id_.type = zip_.EndRecordDisk() == 0 ? atZip : SplitSetKind(fileName_);
    } else {
      id_.type = ForwardScan(0);
    }
  }

  // Four signature bytes, with what the bytes alone do not settle worked out here.
  Classification Classify(std::span<const std::uint8_t, 4> bytes, SignatureContext context) {
    Classification c = ClassifySignature(bytes, context);
    if (c.followUp != FollowUp::None) {
      c.type = SplitSetKind(fileName_);
      if (c.followUp == FollowUp::SplitSetKindThenLocate) Locate();
    }
    return c;
  }

  std::int64_t Locate() {
    zip_ = LocateZipDirectory(s_, id_.size);
    return zip_.position;
  }

  // Self-extractors whose stubs have known lengths.
  std::optional<TArcType> FixedOffsetProbe() {
    for (std::int64_t position : {6674, 6867, 7716, 8601, 13138}) {
      if (id_.size <= position + 2) break;
      const auto b = ReadAt(s_, position, 2);
      if (b.size() < 2 || b[0] != 0x1A) continue;
      if (b[1] == 0x08 || b[1] == 0x09 || b[1] == 0x0A || b[1] == 0x0B) {
        id_.offset = position;
        return b[1] <= 0x09 ? atArcExe : atPakExe;
      }
    }
    if (id_.size > 1949) {
      const auto b = ReadAt(s_, 1947, 6);
      if (b.size() == 6 && b[0] == '-' && b[1] == 'l' && b[2] == 'h' && b[4] == '-') {
        id_.offset = 1945;
        return atLhaExe;
      }
    }
    for (std::int64_t position : {7612, 25661}) {
      if (id_.size > position + 4 && StartsWith(ReadAt(s_, position, 4), 0, "PK\x03\x04")) {
        id_.offset = position;
        return atZipExe;
      }
    }
    return std::nullopt;
  }

  // Stubs that keep the archive position as text in their string table.
  std::optional<TArcType> StringTableProbe() {
    const auto strings = platform::ProgramStrings::Open(
        [this](std::uint64_t offset, void* buffer, std::size_t count) -> std::size_t {
          const auto position = static_cast<std::int64_t>(offset);
          if (position < 0 || s_.Seek(position, soFromBeginning) != position) return 0;
          return s_.Read(buffer, count);
        },
        static_cast<std::uint64_t>(id_.size));
    if (!strings) return std::nullopt;
    for (std::uint16_t id = kFirstPositionString; id <= kLastPositionString; ++id) {
      const auto candidate = ParsePosition(strings->Load(id, kPositionStringChars));
      if (!candidate) return std::nullopt;  // a missing, empty or non-numeric string
      id_.offset = *candidate;
      if (*candidate >= id_.size) return std::nullopt;
      const auto b = ReadAt(s_, *candidate, 14);
      if (b.size() < 14) continue;
      if (StartsWith(b, 7, "**ACE**")) return atAceExe;
      const Classification c =
          Classify(std::span<const std::uint8_t, 4>(b.data(), 4), SignatureContext::Inside);
      if (c.type == atNA) continue;
      if (c.offset >= 0) id_.offset = c.offset;
      if (IsZipFamily(c.type)) {
        const std::int64_t zip = Locate();
        if (zip_.flags != 0) id_.offset = zip;
      }
      return c.type;
    }
    return std::nullopt;
  }

  // The program-file header's own account of its length; an archive often follows right there.
  std::optional<TArcType> ImageEndProbe() {
    const std::int64_t pages = LoadLe16(head_.data() + 4);
    const std::int64_t lastPageBytes = LoadLe16(head_.data() + 2);
    const std::int64_t end = (pages - 1) * 512 + lastPageBytes;
    if (end <= 0 || end + 4 >= id_.size) return std::nullopt;
    const auto atEnd = ReadAt(s_, end, 4);
    if (atEnd.size() != 4) return std::nullopt;
    // An ARJ header two bytes past the image end counts from there.
    id_.offset = (atEnd[2] == 0x60 && atEnd[3] == 0xEA) ? end + 2 : end;
    if (id_.offset + 4 >= id_.size) return std::nullopt;
    const auto sig = ReadAt(s_, id_.offset, 4);
    if (sig.size() != 4 || StartsWith(sig, 0, "PK\x03\x04")) return std::nullopt;
    const Classification c =
        Classify(std::span<const std::uint8_t, 4>(sig.data(), 4), SignatureContext::Inside);
    if (!IsArchiveType(c.type)) return std::nullopt;
    if (c.offset >= 0) id_.offset = c.offset;
    return c.type;
  }

  TArcType ForwardScan(std::int64_t start) {
    TArcType type = atNA;
    std::int64_t offset = 0;
    if (start < id_.size) {
      for (int block = 0; block < kScanBlocks; ++block) {
        const std::int64_t blockStart = start + static_cast<std::int64_t>(kScanBlock) * block;
        const auto bytes = ReadAt(s_, blockStart, kScanBlock);
        if (bytes.empty()) break;
        const auto match = ScanBlockForSignature(bytes, blockStart, start, id_.size);
        if (!match) continue;
        if (match->type == atNA) continue;  // a cabinet header seen from 0: skip the block
        type = match->type;
        offset = match->offset;
        if (IsZipFamily(type)) {
          // The directory's position when the locator finds one; the header seen otherwise.
          const std::int64_t zip = Locate();
          if (zip > 0) offset = zip;
        }
        if (offset > 0) break;
      }
    }
    id_.offset = offset;
    return type;
  }

  bool IsTar() {
    if (id_.size <= static_cast<std::int64_t>(kTarBlock)) return false;
    auto header = ReadAt(s_, 0, kTarBlock);
    if (header.empty()) return false;
    header.resize(kTarBlock);
    if (header[156] == 'V') {  // a volume label comes first
      id_.offset = kTarBlock;
      if (id_.size <= static_cast<std::int64_t>(2 * kTarBlock)) return false;
      header = ReadAt(s_, kTarBlock, kTarBlock);
      if (header.size() != kTarBlock) return false;
    }
    if (TarChecksumMatches(std::span<const std::uint8_t, 512>(header.data(), kTarBlock)))
      return true;
    id_.offset = -1;
    return false;
  }

  void Finish() {
    if (!IsArchiveType(id_.type)) return;
    if (id_.offset == -1) id_.offset = 0;
    if (id_.type == atZip) {
      const std::string_view name = fileName_;
      const auto dot = name.find_last_of(".\\:");
      if (dot != std::string_view::npos && name[dot] == '.' && name.size() - dot == 4) {
        std::string ext(name.substr(dot));
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext == ".jar") id_.type = atJar;
      }
    }
  }

  TStream32& s_;
  std::string_view fileName_;
  Identification id_;
  std::vector<std::uint8_t> head_;  // the first bytes of the file, zeros after what came
  std::size_t headRead_ = 0;        // how many of them the file held
  ZipLocation zip_;                 // what the locator found last
};

}  // namespace

Classification ClassifySignature(std::span<const std::uint8_t, 4> b, SignatureContext context) {
  const bool start = context == SignatureContext::Start;
  auto pick = [start](TArcType atStart, TArcType inside) {
    return Classification{start ? atStart : inside, -1};
  };
  switch (LoadLe32(b.data())) {
    case 0x3547'4B50:
      return pick(atUnknown, atUnknown);  // "PKG5"
    case 0x8C65'5D13:
      return pick(atMsGZ, atUnsupported);
    case 0x0705'4842:
      return pick(atBh, atBhExe);
    case 0x2172'6152:
      return pick(atRar, atRarExe);  // "Rar!"
    case 0x4643'534D:
      return pick(atCab, atCabExe);  // "MSCF"
    case 0x5754'DFB7:
      return {start ? atArc : atArcExe, start ? -1 : kArcStubOffset};
    default:
      break;
  }
  if (b[2] == 0x2D && b[3] == 0x6C) return pick(atLha, atLhaExe);  // "-l" of "-lh5-"

  switch (b[0] << 8 | b[1]) {
    case 0x1A02:
    case 0x1A1E:
      return pick(atArc, atUnsupported);
    case 0x1A08:
    case 0x1A09:
      return pick(atArc, atArcExe);
    case 0x1A0A:
    case 0x1A0B:
      return pick(atPak, atPakExe);
    case 0x1F1E:
    case 0x2521:
    case 0x1F8B:
    case 0x1F9D:
    case 0x1F9E:
    case 0x1FA0:
      return pick(atGZip, atUnsupported);
    case 0x4841:
      return pick(atHA, atUnsupported);  // "HA"
    case 0x504B:
    case 0x504C:
    case 0x504D:
    case 0x504E: {  // "PK", "PL", "PM", "PN"
      const int kind = b[2] << 8 | b[3];
      if (kind == 0x0102) return {atNA, -1, FollowUp::SplitSetKindThenLocate};
      if (kind == 0x0708) return {atNA, -1, FollowUp::SplitSetKind};
      if (kind == 0x4734 || kind == 0x4349) return {atNA, -1};
      return pick(atZip, atZipExe);
    }
    case 0x5A4F:
      return pick(atZoo, atUnsupported);  // "ZO"
    case 0xB792:
    case 0xB7DF:
      return {atArcExe, kArcStubOffset};
    case 0x60EA:
      return pick(atArj, atArjExe);
    default:
      return {atNA, -1};
  }
}

std::optional<ScanMatch> ScanBlockForSignature(std::span<const std::uint8_t> block,
                                               std::int64_t blockStart, std::int64_t scanStart,
                                               std::int64_t archiveSize) {
  const std::size_t n = block.size();
  auto fits = [n](std::size_t j, std::size_t length) { return j + length <= n; };
  auto exeOr = [](std::int64_t offset, TArcType plain, TArcType exe) {
    return ScanMatch{offset == 0 ? plain : exe, offset};
  };
  for (std::size_t j = 0; j < n; ++j) {
    const std::int64_t a = blockStart + static_cast<std::int64_t>(j);
    const std::uint8_t* p = block.data() + j;
    switch (p[0]) {
      case '*':
        if (fits(j, 5) && std::memcmp(p + 1, "*ACE", 4) == 0 && a + 5 < archiveSize && a >= 7)
          return exeOr(a - 7, atAce, atAceExe);
        break;
      case 'M':
        if (fits(j, 8) && std::memcmp(p, "MSCF", 4) == 0 && LoadLe32(p + 4) == 0 &&
            a + 5 < archiveSize) {
          if (scanStart == 0) return ScanMatch{atNA, 0};
          return exeOr(a, atCab, atCabExe);
        }
        break;
      case '-':
        if (fits(j, 5) && p[1] == 'l' && p[2] == 'h' && p[4] == '-' && a + 5 < archiveSize &&
            a >= 2)
          return exeOr(a - 2, atLha, atLhaExe);
        break;
      case 'B':
        // The second test keeps the scan from stopping at a self-extractor's own copy of the
        // signature, which is followed by these four bytes.
        if (fits(j, 8) && LoadLe32(p) == 0x0705'4842 && LoadLe32(p + 4) != 0x84C3'940F)
          return exeOr(a, atBh, atBhExe);
        break;
      case 'P':
        if (fits(j, 8) && std::memcmp(p, "PK\x03\x04", 4) == 0 && LoadLe32(p + 4) != 0x003D'0B74)
          return ScanMatch{scanStart == 0 ? atZip : atZipExe, a};
        break;
      case 'R':
        if (fits(j, 4) && std::memcmp(p, "Rar!", 4) == 0) return exeOr(a, atRar, atRarExe);
        break;
      case 0x60:
        if (fits(j, 4) && p[1] == 0xEA) {
          // An ARJ main header counts only when the next header follows where it says.
          const std::size_t next = j + 10 + LoadLe16(p + 2);
          if (fits(next, 2) && block[next] == 0x60 && block[next + 1] == 0xEA)
            return exeOr(a, atArj, atArjExe);
        }
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

bool LooksUuencoded(std::span<const std::uint8_t> head) {
  bool sawBegin = false;
  for (std::size_t start = 0; start + 3 <= head.size();) {
    if (StartsWith(head, start, "begin 6") || StartsWith(head, start, "begin 7")) return true;
    if (sawBegin && head[start] == 'M') return true;
    if (StartsWith(head, start, "begin")) sawBegin = true;
    const auto* lf = static_cast<const std::uint8_t*>(
        std::memchr(head.data() + start, 0x0A, head.size() - start));
    if (lf == nullptr) break;
    start = static_cast<std::size_t>(lf - head.data()) + 1;
  }
  return false;
}

bool TarChecksumMatches(std::span<const std::uint8_t, 512> header) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < header.size(); ++i)
    sum += (i >= 148 && i < 156) ? std::uint32_t{' '} : header[i];
  const std::string_view field(reinterpret_cast<const char*>(header.data() + 148), 8);
  return static_cast<std::uint32_t>(OctalToInt(field)) == sum;
}

Identification IdentifyArchive(TStream32& stream, std::string_view fileName) {
  return Identifier(stream, fileName).Run();
}

}  // namespace quern
