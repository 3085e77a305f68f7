#include "engine/lha/un_lha.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/base/err_msgs.h"
#include "engine/lha/lh1_decoder.h"
#include "engine/support/crc.h"
#include "engine/support/little_endian.h"
#include "engine/support/qrn_gbls.h"

namespace quern {

namespace {

// Stored text ends at its first zero byte; some systems keep a comment behind it.
std::string TextUpToZero(std::span<const std::uint8_t> bytes) {
  const auto* begin = reinterpret_cast<const char*>(bytes.data());
  return std::string(begin, strnlen(begin, bytes.size()));
}

// A stored CRC no CRC-16 register can equal, plain or complemented: the check of an entry that
// is known to be incomplete.
constexpr std::uint32_t kNoCrcMatches = 0x0001'0000;

}  // namespace

bool TUnLha::ReadBaseHeader(TStream32& archive, std::int64_t at) {
  header_ = THeader{};
  if (archive.Seek(at, soFromBeginning) != at) return false;
  auto& bytes = header_.base.bytes;
  return ReadBlock(archive, bytes.data(), bytes.size(), kCrcNone, false) == bytes.size() &&
         header_.base.HeaderSize() != 0;
}

bool TUnLha::ReadRestOfHeader(TStream32& archive, std::int64_t at) {
  extName_.clear();
  hasExtName_ = false;
  firstExtData_.clear();
  extDirectory_.clear();
  const lha::TLhaBaseHeader& base = header_.base;
  // A level-2 header gives its length in two bytes, the others their size in one.
  const bool level2 = base.Level() == 2;
  if (level2 ? base.TotalLength() < lha::kMinLevel2Length
             : base.HeaderSize() < lha::kMinHeaderSize) {
    ReportError(ArchiveFile(), "", "0", ec::kBadFileHeader);
    return false;
  }
  try {
    if (level2) return ReadLevel2(archive, at);
    if (base.Level() <= 1) return ReadLevel01(archive, at);
  } catch (...) {
  }
  return false;
}

bool TUnLha::ReadLevel01(TStream32& archive, std::int64_t at) {
  const lha::TLhaBaseHeader& base = header_.base;
  const std::size_t length = std::size_t{base.HeaderSize()} + 2;
  const std::size_t nameLength = base.NameLength();
  // A name longer than the header holds leaves no header to speak of.
  if (lha::kBaseHeaderSize + nameLength > length) {
    ReportError(ArchiveFile(), "", "0", ec::kBadFileHeader);
    return false;
  }
  std::vector<std::uint8_t> rest(length - lha::kBaseHeaderSize);
  if (ReadBlock(archive, rest.data(), rest.size(), kCrcNone, false) != rest.size()) return false;

  const std::span<const std::uint8_t> after(rest.data() + nameLength, rest.size() - nameLength);
  const std::string name = TextUpToZero(std::span(rest.data(), nameLength));
  // A header too short for its CRC stores none; its entry is held to a CRC of 0.
  if (after.size() >= 2) header_.crc = LoadLe16(after.data());
  header_.dosDate = base.TimeStamp();
  header_.dataAt = at + static_cast<std::int64_t>(length);
  header_.dataSize = base.PackedSize();
  header_.nextAt = header_.dataAt + base.PackedSize();

  // Level 1 ends its header with the size of the first extension; the extensions follow the
  // header and count as packed data. (Level 0 keeps only system fields after its CRC.)
  constexpr std::size_t kLevel1Tail = 5;  // CRC, OS id and the first extension's size
  if (base.Level() == 1 && after.size() >= kLevel1Tail) {
    std::uint16_t size = LoadLe16(after.data() + after.size() - 2);
    std::int64_t taken = 0;
    std::vector<std::uint8_t> ext;
    for (bool first = true; size >= lha::kExtOverhead && taken + size <= header_.dataSize;
         first = false) {
      ext.resize(size);
      if (ReadBlock(archive, ext.data(), size, kCrcNone, false) != size) break;
      taken += size;
      size = TakeExtendedHeader(ext, first);
    }
    header_.dataAt += taken;
    header_.dataSize -= taken;
  }
  header_.name = extDirectory_ + (hasExtName_ ? extName_ : name);
  return true;
}

bool TUnLha::ReadLevel2(TStream32& archive, std::int64_t at) {
  const lha::TLhaBaseHeader& base = header_.base;
  const std::size_t length = base.TotalLength();
  std::vector<std::uint8_t> header(length);
  std::memcpy(header.data(), base.bytes.data(), lha::kBaseHeaderSize);
  const std::size_t restSize = length - lha::kBaseHeaderSize;
  if (ReadBlock(archive, header.data() + lha::kBaseHeaderSize, restSize, kCrcNone, false) !=
      restSize)
    return false;

  header_.crc = LoadLe16(&header[21]);
  // Every level-2 stamp is a Unix time, whichever system (OS id, byte 23) wrote it.
  header_.dosDate = DateValueToDos(UnixTimeToLocal(static_cast<std::int32_t>(base.TimeStamp())));
  header_.dataSize = base.PackedSize();

  // The extensions lie inside the header's length, padding may follow the last. OS-9/68k
  // archivers give a length that stops short of their last extension: that one is read on past
  // the length, the data follow it, and nothing after it is taken for an extension.
  std::size_t pos = lha::kMinLevel2Length;
  std::uint16_t size = LoadLe16(&header[lha::kLevel2ExtendedAt]);
  for (bool first = true; size >= lha::kExtOverhead && pos < length; first = false) {
    if (pos + size > header.size()) {
      const std::size_t had = header.size();
      header.resize(pos + size);
      if (ReadBlock(archive, header.data() + had, header.size() - had, kCrcNone, false) !=
          header.size() - had)
        break;
    }
    const std::span<const std::uint8_t> ext(header.data() + pos, size);
    pos += size;
    size = TakeExtendedHeader(ext, first);
  }
  header_.dataAt = at + static_cast<std::int64_t>(std::max(pos, length));
  header_.nextAt = header_.dataAt + base.PackedSize();
  // Without a file-name extension the first extension is taken for the name.
  header_.name = extDirectory_ + (hasExtName_ ? extName_ : firstExtData_);
  return true;
}

std::uint16_t TUnLha::TakeExtendedHeader(std::span<const std::uint8_t> ext, bool first) {
  const std::span<const std::uint8_t> data = ext.subspan(1, ext.size() - lha::kExtOverhead);
  switch (ext[0]) {
    case lha::kExtFileName:
      extName_ = TextUpToZero(data);
      hasExtName_ = true;
      break;
    case lha::kExtDirectory:
      extDirectory_ = AddTrailingBackslash(NormalizeSeparators(TextUpToZero(data)));
      break;
    default:
      break;
  }
  if (first) firstExtData_ = TextUpToZero(data);
  return LoadLe16(ext.data() + ext.size() - 2);
}

void TUnLha::ScanPass(TStream32& archive, TUnBaseHeaderObj& list) {
  std::int64_t at = ArchiveOffset();
  while (ReadBaseHeader(archive, at)) {
    if (Cancel()) break;
    if (!ReadRestOfHeader(archive, at)) break;
    storedName_ = OemNameToAnsi(header_.name, TranslateOemChar());
    BuildOutputName(storedName_);
    if (SpecListTest(storedName_) && lha::MethodOfLetter(header_.base.MethodLetter())) {
      list.Add({header_.base.Attributes(), 0, at});
      if (header_.dosDate > latestEntryDate_) latestEntryDate_ = header_.dosDate;
      totalPacked_ += header_.base.PackedSize();
      totalUnpacked_ += header_.base.UnpackedSize();
    }
    at = header_.nextAt;
  }
}

void TUnLha::ExtractionPass(TStream32& archive, const TUnBaseHeaderObj& list) {
  remaining_ = totalUnpacked_;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (Cancel()) break;
    const TScanItem& item = list.Item(i);
    if (!ReadBaseHeader(archive, item.offset) || !ReadRestOfHeader(archive, item.offset)) break;
    storedName_ = OemNameToAnsi(header_.name, TranslateOemChar());
    BuildOutputName(storedName_);
    entryInfo_.Flags = 0;
    entryInfo_.Method = static_cast<unsigned char>(header_.base.MethodLetter());
    entryInfo_.PackedSize = header_.dataSize;
    entryInfo_.UnpackedSize = header_.base.UnpackedSize();
    ExtractEntry(archive);
  }
}

bool TUnLha::ExtractEntry(TStream32& archive) {
  // A name without a file part and no data is a directory, whatever the method says: some
  // archivers store directories as empty stored entries.
  const bool directory =
      lha::MethodOfLetter(header_.base.MethodLetter()) == lha::TLhaMethod::Directory ||
      (storedName_.ends_with('\\') && entryInfo_.UnpackedSize == 0);
  if (!AcceptOutputName() || !BeginEntry(directory)) {
    SkipEntry(entryInfo_);
    return false;
  }
  crc16_ = 0;
  crc32_ = 0xFFFFFFFF;
  written_ = 0;
  try {
    if (directory) {
      if (CreateStoredDirs()) CreateDirectoryTree(outputFileName_);
    } else {
      DecodeFile(archive);
    }
  } catch (...) {
    // The entry ends here; its verdict still follows and the next entry goes on.
  }
  // Zero bytes leave a CRC-16 started at 0 unchanged, so a file of zeros cut short would pass
  // its check: a file that did not get all its bytes fails whatever its CRC.
  const bool complete = directory || written_ == entryInfo_.UnpackedSize;
  return CheckCrc(kCrc16, complete ? header_.crc : kNoCrcMatches);
}

void TUnLha::DecodeFile(TStream32& archive) {
  if (!CreateOutputFile(out_, outputFileName_)) {
    ReportError(outputFileName_, "", "0", ec::kOpenError);
    SkipEntry(entryInfo_);
    --fileCount_;
    return;
  }
  const auto close = [this] {
    written_ = out_ ? out_->Position() : 0;
    CloseOutputFile(out_, outputFileName_, header_.base.Attributes(), header_.dosDate);
  };
  try {
    archive.Seek(header_.dataAt, soFromBeginning);
    if (!header_.base.MethodFramed()) {
      ReportError(outputFileName_, "", "0", ec::kUnsupportedMethod);
    } else {
      Decode(archive);
    }
  } catch (...) {
    close();
    throw;
  }
  close();
}

void TUnLha::Decode(TStream32& archive) {
  switch (lha::MethodOfLetter(header_.base.MethodLetter()).value_or(lha::TLhaMethod::Unsupported)) {
    case lha::TLhaMethod::Stored:
      CopyStored(archive, *out_, entryInfo_, kCrc16);
      break;
    case lha::TLhaMethod::Lh1:
      DecodeEntry(archive, *out_, entryInfo_, kCrc16, false, outputFileName_, "0",
                  [this](TDecoderIo& io) { TLh1Decoder().Decode(io, entryInfo_.UnpackedSize); });
      break;
    case lha::TLhaMethod::Lh4:
      DecodeLzh(archive, *out_, entryInfo_, kLzhLh4, kCrc16, false);
      break;
    case lha::TLhaMethod::Lh5:
      DecodeLzh(archive, *out_, entryInfo_, kLzhLh5, kCrc16, false);
      break;
    case lha::TLhaMethod::Lh6:
      DecodeLzh(archive, *out_, entryInfo_, kLzhLh6, kCrc16, false);
      break;
    case lha::TLhaMethod::Lh7:
      DecodeLzh(archive, *out_, entryInfo_, kLzhLh7, kCrc16, false);
      break;
    case lha::TLhaMethod::Directory:
    case lha::TLhaMethod::Unsupported:
      RaiseError(outputFileName_, "", "0", ec::kUnsupportedMethod);
      break;
  }
}

}  // namespace quern
