#include "engine/bh/un_bh.h"

#include <array>
#include <cstring>
#include <vector>

#include "engine/base/err_msgs.h"
#include "engine/decoders/decompress_stream.h"
#include "engine/support/crc.h"
#include "engine/support/qrn_gbls.h"

namespace quern {

bool TUnBh::ReadHeader(TStream32& archive) {
  header_.bytes.fill(0);
  return ReadBlock(archive, header_.bytes.data(), bh::kHeaderSize, kCrcNone, false) ==
         bh::kHeaderSize;
}

std::size_t TUnBh::ReadStoredName(TStream32& archive, std::string& name) {
  std::array<char, bh::kMaxNameLength + 1> buffer{};
  const std::size_t wanted = std::min<std::size_t>(header_.NameLength(), bh::kMaxNameLength);
  const std::size_t read = wanted == 0 ? 0 : archive.Read(buffer.data(), wanted);
  name.assign(buffer.data(), strnlen(buffer.data(), read));
  return read;
}

void TUnBh::ScanPass(TStream32& archive, TUnBaseHeaderObj& list) {
  // The scan does not count as extraction time.
  Paused([&] {
    std::int64_t offset = ArchiveOffset();
    archive.Seek(offset, soFromBeginning);
    if (!ReadHeader(archive)) return;
    while (header_.Valid()) {
      if (Cancel()) break;
      if (header_.NameLength() <= bh::kMaxNameLength) {
        std::string name;
        ReadStoredName(archive, name);
        storedName_ = OemNameToAnsi(name, TranslateOemChar());
        if (SpecListTest(storedName_)) {
          list.Add({header_.Attributes(), 0, offset});
          if (header_.DateTime() > latestEntryDate_) latestEntryDate_ = header_.DateTime();
          totalPacked_ += header_.PackedSize();
          totalUnpacked_ += header_.UnpackedSize();
          if (header_.Encrypted()) totalPacked_ -= bh::kEncryptionHeaderSize;
        }
      }
      offset += header_.EntrySpan();
      archive.Seek(offset, soFromBeginning);
      // A header cut short by the end of the file reads as zeros, which ends the chain.
      ReadHeader(archive);
    }
  });
}

void TUnBh::ExtractionPass(TStream32& archive, const TUnBaseHeaderObj& list) {
  remaining_ = totalUnpacked_;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (Cancel()) break;
    const TScanItem& item = list.Item(i);
    archive.Seek(item.offset, soFromBeginning);
    ReadHeader(archive);
    std::string name;
    if (ReadStoredName(archive, name) == 0) continue;
    if (header_.ExtraLength() != 0) archive.Seek(header_.ExtraLength(), soFromCurrent);

    storedName_ = OemNameToAnsi(name, TranslateOemChar());
    BuildOutputName(storedName_);
    if (header_.Method() == bh::kMethodDeflate) header_.SetMethod(bh::kMethodDeflate8);
    entryInfo_.Flags = header_.Flags();
    entryInfo_.Method = header_.Method();
    entryInfo_.PackedSize = header_.PackedSize();
    entryInfo_.UnpackedSize = header_.UnpackedSize();
    ExtractEntry(archive, item.attributes);
  }
}

bool TUnBh::ExtractEntry(TStream32& archive, std::uint32_t attributes) {
  if (!AcceptOutputName() || !BeginEntry((attributes & bh::kAttrDirectory) != 0)) {
    SkipEntry(entryInfo_);
    return false;
  }
  entryEncrypted_ = header_.Encrypted();
  if (entryEncrypted_ && !passwordFailed_ && !AcquirePassword(archive)) passwordFailed_ = true;

  try {
    if (attributes & bh::kAttrDirectory) {
      if (CreateStoredDirs()) CreateDirectoryTree(outputFileName_);
      crc32_ = 0;
    } else {
      DecodeFile(archive, attributes);
    }
  } catch (...) {
    // The entry ends here; its verdict still follows and the next entry goes on.
  }
  return CheckCrc(kCrc32, header_.Crc());
}

void TUnBh::DecodeFile(TStream32& archive, std::uint32_t attributes) {
  const bool oldCipher = header_.Version() < bh::kFirstNewCipherVersion;
  if (entryEncrypted_ && oldCipher) cipher_.InitKeys(Password());
  crc32_ = 0xFFFFFFFF;

  if (!CreateOutputFile(out_, outputFileName_)) {
    ReportError(outputFileName_, "", "0", ec::kOpenError);
    SkipEntry(entryInfo_);
    --fileCount_;
    return;
  }
  if (entryEncrypted_ && passwordFailed_) {
    --fileCount_;
    SkipEntry(entryInfo_);
    outputFileName_ = storedName_;
    return;
  }

  try {
    switch (entryInfo_.Method) {
      case bh::kMethodStored:
        // Old-version stored entries carry their data in the clear after the checked header.
        if (oldCipher) entryInfo_.Flags = 0;
        CopyStored(archive, *out_, entryInfo_, kCrc32);
        break;
      case bh::kMethodFused1:
        DecodeLzh(archive, *out_, entryInfo_, kLzhLh5, kCrc32, entryEncrypted_);
        break;
      case bh::kMethodFused3:
        DecodeLzh(archive, *out_, entryInfo_, kLzhLh6, kCrc32, entryEncrypted_);
        break;
      case bh::kMethodDeflate8:
        Inflate(archive);
        break;
      default:
        RaiseError(outputFileName_, "", "0", ec::kUnsupportedMethod);
        break;
    }
  } catch (...) {
    CloseOutputFile(out_, outputFileName_, attributes, header_.DateTime());
    throw;
  }
  CloseOutputFile(out_, outputFileName_, attributes, header_.DateTime());
}

void TUnBh::Inflate(TStream32& archive) {
  constexpr std::int64_t kBlock = 32768;
  const std::int64_t size = entryInfo_.UnpackedSize;
  TDecompressStream inflater(archive, -15, entryEncrypted_ ? &cipher_ : nullptr);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(size, kBlock)) + 1);

  std::int64_t toRequest = size;
  std::int64_t produced = 0;
  while (toRequest > 0 && !Cancel()) {
    ProcessMessages();
    const std::int64_t request = std::min(toRequest, kBlock);
    const std::int32_t got =
        inflater.ReadInflated(buffer.data(), static_cast<std::size_t>(request));
    if (got > 0) {
      if (WriteBlock(*out_, buffer.data(), static_cast<std::size_t>(got), kCrc32, false, true) == 0)
        RaiseError(outputFileName_, "", "0", ec::kWriteError);
      produced += got;
      remaining_ -= got;
    } else if (got == 0) {
      remaining_ -= toRequest;  // the Deflate data ended early: account for the rest
    }
    ProgressUpdate(produced, size, totalUnpacked_);
    if (got <= 0) break;  // the end of the data, or corrupt data
    toRequest -= request;
  }
}

bool TUnBh::CheckPassword(std::span<const std::uint8_t, 12> rawHeader) {
  return CheckEncryptionHeader(cipher_, rawHeader, header_.Flags(), header_.Crc(),
                               header_.DateTime(), Password());
}

}  // namespace quern
