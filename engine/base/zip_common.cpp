#include "engine/base/zip_common.h"

#include <algorithm>
#include <vector>

#include "engine/base/err_msgs.h"
#include "engine/support/crc.h"
#include "engine/support/qrn_gbls.h"
#include "platform/platform.h"

namespace quern {

namespace {

constexpr std::int64_t kCopyBlock = 32768;  // the stored copy moves at most this much at once

// The archive types whose entries the engine deciphers while writing or reading them.
bool DecipheredType(TArcType type) {
  switch (type) {
    case atBh:
    case atBhExe:
    case atJar:
    case atJarExe:
    case atZip:
    case atZipExe:
    case atZipDS:
    case atZipMV:
      return true;
    default:
      return false;
  }
}

}  // namespace

TZipCommon::TZipCommon(TComponent* owner) : TRegisterQuern(owner) {
  progressCallback_ = [this](std::uint8_t byFile, std::uint8_t byArchive) {
    DefaultProgress(byFile, byArchive);
  };
}

TZipCommon::~TZipCommon() = default;

void TZipCommon::SetExtractDir(std::string_view value) {
  extractDir_ = value.empty() ? ExtractFilePath(ArchiveFile())
                              : AddTrailingBackslash(SlashesToBackslashes(value));
}

void TZipCommon::SetCancel(bool value) {
  cancel_ = value;
  if (value) ReportError(outputFileName_, "", ArchiveFile(), ec::kUserCanceled);
}

void TZipCommon::ReportError(const std::string& FileName, const std::string& ExtendedMsg,
                             const std::string& VolumeID, int ECode) {
  Paused([&] {
    if (cancel_) ECode = ec::kUserCanceled;
    if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
  });
}

void TZipCommon::RaiseError(const std::string& FileName, const std::string& ExtendedMsg,
                            const std::string& VolumeID, int ECode) {
  Paused([&] {
    if (cancel_) ECode = ec::kUserCanceled;
    if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
    // The handler may have cancelled the run; the caller then goes on and its loops stop.
    if (!cancel_) throw E_RAISE(ECode);
  });
}

void TZipCommon::UpdateCrc(std::uint8_t crcMode, const std::uint8_t* buffer, std::size_t count) {
  if (crcMode == kCrc32)
    crc32_ = Crc32Update(crc32_, buffer, count);
  else if (crcMode == kCrc16)
    crc16_ = Crc16Update(crc16_, buffer, count);
}

void TZipCommon::DecryptBuffer(bool encrypted, std::uint8_t* buffer, std::size_t count) {
  if (encrypted && DecipheredType(ArcType())) cipher_.DecodeBuffer(buffer, count);
}

std::size_t TZipCommon::ReadBlock(TStream32& archive, std::uint8_t* buffer, std::size_t count,
                                  std::uint8_t crcMode, bool decrypt) {
  if (count == 0) return 0;
  const std::size_t read = archive.Read(buffer, count);
  if (decrypt) DecryptBuffer(true, buffer, read);
  UpdateCrc(crcMode, buffer, read);
  return read;
}

std::size_t TZipCommon::WriteBlock(TStream32& out, std::uint8_t* buffer, std::size_t count,
                                   std::uint8_t crcMode, bool decrypt, bool updateCrc) {
  if (decrypt && updateCrc) DecryptBuffer(true, buffer, count);
  if (count == 0) return 0;
  const std::size_t written = out.Write(buffer, count);
  if (written == count) {
    if (updateCrc) UpdateCrc(crcMode, buffer, count);
    return count;
  }
  if (platform::LastError() == platform::SystemError::DiskFull) {
    fileCount_ = 0;
    RaiseError(ArchiveFile(), outputFileName_, "0", ec::kDiskFull);
    return written;
  }
  if (fileCount_ > 0) --fileCount_;
  ReportError(outputFileName_, "", ArchiveFile(), ec::kWriteError);
  return written;
}

std::int64_t TZipCommon::CopyStored(TStream32& archive, TStream32& out, const TEntryInfo& info,
                                    std::uint8_t crcMode) {
  const bool encrypted = (info.Flags & kEntryEncrypted) != 0;
  const bool decipherOnRead = encrypted && (ArcType() == atArj || ArcType() == atArjExe);
  const bool decipherOnWrite = encrypted && DecipheredType(ArcType());

  std::int64_t left = info.UnpackedSize;
  std::int64_t block = std::min(left, kCopyBlock);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max<std::int64_t>(block, 0)) + 1);
  while (left > 0) {
    const std::size_t n = ReadBlock(archive, buffer.data(), static_cast<std::size_t>(block),
                                    kCrcNone, decipherOnRead);
    if (n == 0) break;  // the archive ends inside the entry
    remaining_ -= static_cast<std::int64_t>(n);
    left -= static_cast<std::int64_t>(n);
    WriteBlock(out, buffer.data(), n, crcMode, decipherOnWrite, true);
    ProgressUpdate(info.UnpackedSize - left, info.UnpackedSize, totalPacked_);
    if (cancel_) break;
    if (left <= kCopyBlock) block = left;
  }
  return left;
}

namespace {

// The unpacker's side of a decoding: the packed-input limit, deciphering, the CRC, the
// output file and progress.
class DecoderEntryIo final : public TDecoderIo {
 public:
  using Read = std::function<std::size_t(std::uint8_t*, std::size_t)>;
  using Write = std::function<void(std::uint8_t*, std::size_t)>;
  DecoderEntryIo(std::int64_t packedLimit, Read read, Write write)
      : packedLimit_(packedLimit), read_(std::move(read)), write_(std::move(write)) {}

  std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) override {
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(count), packedLimit_));
    if (wanted == 0) return 0;
    const std::size_t got = read_(buffer, wanted);
    packedLimit_ -= static_cast<std::int64_t>(got);
    return got;
  }
  void WriteDecoded(std::uint8_t* buffer, std::size_t count) override { write_(buffer, count); }

 private:
  std::int64_t packedLimit_;  // packed bytes of the entry not yet read
  Read read_;
  Write write_;
};

}  // namespace

void TZipCommon::DecodeLzh(TStream32& archive, TStream32& out, const TEntryInfo& info,
                           const LzhParameters& coding, std::uint8_t crcMode, bool decipherInput) {
  DecodeEntry(archive, out, info, crcMode, decipherInput, storedName_, ArchiveFile(),
              [&](TDecoderIo& io) { TLzhDecoder(coding).Decode(io, info.UnpackedSize); });
}

void TZipCommon::DecodeEntry(TStream32& archive, TStream32& out, const TEntryInfo& info,
                             std::uint8_t crcMode, bool decipherInput,
                             const std::string& failedName, const std::string& failedVolume,
                             const std::function<void(TDecoderIo&)>& decode) {
  std::int64_t toReport = info.UnpackedSize;
  DecoderEntryIo io(
      info.PackedSize,
      [&](std::uint8_t* buffer, std::size_t count) {
        return ReadBlock(archive, buffer, count, kCrcNone, decipherInput);
      },
      [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t written = WriteBlock(out, buffer, count, crcMode, false, true);
        if (written == 0 && count != 0) RaiseError(failedName, "", failedVolume, ec::kWriteError);
        toReport -= static_cast<std::int64_t>(written);
        remaining_ -= static_cast<std::int64_t>(written);
        ProgressUpdate(info.UnpackedSize - toReport, info.UnpackedSize, totalUnpacked_);
      });
  decode(io);
}

void TZipCommon::BuildOutputName(const std::string& storedName) {
  if (storedName.empty()) {
    outputFileName_.clear();
    return;
  }
  std::string name = storedName;
  if (extractDir_.empty()) {
    SetExtractDir(ExtractFileDir(ArchiveFile()));
    if (extractDir_.empty()) SetExtractDir(platform::CurrentDirectory());
  }

  std::string dir;
  if (useStoredDirs_) {
    // Drives and roots in stored names are dropped: everything lands under ExtractDir.
    if (name.find(':') != std::string::npos)
      name.erase(0, name.find('\\') == 2 ? 3 : 2);
    else if (!name.empty() && name[0] == '\\')
      name.erase(0, 1);
    dir = AddTrailingBackslash(extractDir_) + ExtractFilePath(name);
  } else {
    dir = extractDir_;
  }
  if (dir.find(':') == std::string::npos && (dir.empty() || dir[0] != '\\')) dir.insert(0, "\\");
  outputFileName_ = AddTrailingBackslash(dir) + ExtractFileName(name);
}

void TZipCommon::ProgressUpdate(std::int64_t entryDone, std::int64_t entrySize,
                                std::int64_t archiveTotal) {
  try {
    lastByFile_ = PercentOf(entryDone, entrySize);
    lastByArchive_ = PercentOf(archiveTotal - remaining_, archiveTotal);
    if (progressCallback_) progressCallback_(lastByFile_, lastByArchive_);
  } catch (...) {
    // A failing progress handler must not end the entry.
  }
}

void TZipCommon::SkipEntry(const TEntryInfo& info) {
  remaining_ -= info.UnpackedSize;
  ProgressUpdate(info.UnpackedSize, info.UnpackedSize, totalUnpacked_);
}

void TZipCommon::DefaultProgress(std::uint8_t byFile, std::uint8_t byArchive) {
  ProcessMessages();
  if (OnProgress) OnProgress(this, byFile, byArchive);
}

}  // namespace quern
