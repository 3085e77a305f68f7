#include "engine/base/custom_dclass.h"

#include <algorithm>
#include <cctype>

#include "engine/base/err_msgs.h"
#include "engine/support/crc.h"
#include "engine/support/qrn_gbls.h"
#include "platform/platform.h"

namespace quern {

namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// Runs a step whose exceptions the run swallows, so that the steps after it still run.
template <typename F>
void Swallow(F&& step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

int TCustomDClass::Extract() {
  if (running_) return 0;
  if (ArchiveFile().empty()) {
    ReportError("", "", ArchiveFile(), ec::kFileNotFound);
    return 0;
  }
  struct RunningFlag {
    bool& flag;
    explicit RunningFlag(bool& f) : flag(f) { flag = true; }
    ~RunningFlag() { flag = false; }
  } running{running_};

  if (ArcType() == atZipDS || ArcType() == atZipMV) {
    // A set on several disks or volumes: the drive must be ready before the archive is opened.
    DiskManager().ErrorReport = [this](const std::string& fileName, const std::string& extended,
                                       const std::string& volume,
                                       int code) { ReportError(fileName, extended, volume, code); };
    if (!DiskManager().CheckDrive(ArchiveFile())) return 0;
  }

  std::unique_ptr<TFileStream32> archive;
  switch (ArcType()) {
    case atAce:
    case atAceExe:
    case atCab:
    case atCabExe:
    case atRar:
    case atRarExe:
      break;  // no reader here opens these
    default:
      archive = std::make_unique<TFileStream32>(ArchiveFile(), fmOpenRead | fmShareDenyWrite);
      if (!archive->Valid()) {
        ReportError("", "", ArchiveFile(), ec::kOpenError);
        return 0;
      }
  }
  Run(archive.get());
  return fileCount_;
}

void TCustomDClass::Run(TStream32* archive) {
  SetCancel(false);  // through the property: clearing reports nothing
  fileCount_ = 0;
  progressCallback_ = [this](std::uint8_t byFile, std::uint8_t byArchive) {
    DefaultProgress(byFile, byArchive);
  };
  entryEncrypted_ = false;
  passwordFailed_ = false;
  latestEntryDate_ = 0;
  totalPacked_ = totalUnpacked_ = remaining_ = 0;
  lastByArchive_ = 0;
  if (CpuType() == cpt80486) SetCpuType(cptAuto);

  const std::string savedArchiveFile = ArchiveFile();
  bool activated = true;
  try {
    if (OnActivate) OnActivate(this);
  } catch (...) {
    activated = false;  // the format is never called; nothing else fires
  }
  if (activated) {
    if (OnElapsedTime) timer_.Start();
    outputFileName_.clear();
    Swallow([&] { ExtractArchive(archive); });
    Swallow([&] {
      if (OnElapsedTime) {
        timer_.Stop();
        OnElapsedTime(this, timer_.ElapsedTime());
      }
    });
    Swallow([&] {
      if (OnDeactivate) OnDeactivate(this);
    });
  }
  RestoreArchiveFile(savedArchiveFile);
}

void TCustomDClass::ExtractArchive(TStream32*) {}

bool TCustomDClass::CheckCrc(std::uint8_t crcMode, std::uint32_t storedCrc) {
  bool pass = false;
  if (!Cancel()) {
    const std::uint32_t c = crcMode == kCrc16 ? crc16_ : crc32_;
    pass = storedCrc == c || storedCrc == (c ^ 0xFFFFFFFFu);
  }
  if (OnEnd)
    OnEnd(this, outputFileName_, pass);
  else if (!pass)
    ReportError(outputFileName_, "", ArchiveFile(), ec::kCrcFailed);
  return pass;
}

bool TCustomDClass::CheckPassword(std::span<const std::uint8_t, 12>) {
  return false;
}

bool TCustomDClass::AcquirePassword(TStream32& archive) {
  bool opened = false;
  Paused([&] {
    std::array<std::uint8_t, 12> raw{};
    ReadBlock(archive, raw.data(), raw.size(), kCrcNone, false);
    opened = CheckPassword(raw);
    for (std::size_t i = 0; !opened && i < passwords_.size(); ++i) {
      password_ = passwords_[i];
      opened = CheckPassword(raw);
    }
    if (opened) return;
    if (!OnGetPassword) {
      ReportError(outputFileName_, "OnGetPassword", ArchiveFile(), ec::kRequiredEvent);
      return;
    }
    bool tryAgain = true;
    for (int attempt = 0; attempt < passwordAttempts_ && !Cancel(); ++attempt) {
      OnGetPassword(this, outputFileName_, password_, tryAgain);
      if (!tryAgain) {
        ReportError(outputFileName_, std::string(MessageText(ec::kUserCanceled)), ArchiveFile(),
                    ec::kInvalidPassword);
        return;
      }
      if (CheckPassword(raw)) {
        passwords_.insert(passwords_.begin(), password_);
        opened = true;
        return;
      }
      crc32_ = 0xFFFFFFFF;
      ReportError(outputFileName_, password_, ArchiveFile(), ec::kInvalidPassword);
      password_.clear();
    }
  });
  return opened;
}

bool TCustomDClass::AcceptOutputName() {
  // The part of the output name that came from the archive: what follows the extract directory.
  const std::string root = AddTrailingBackslash(ExtractDir());
  std::string_view rel = outputFileName_;
  std::string base;
  if (rel.starts_with(root)) {
    base = root;
  } else if (rel.size() > root.size() && rel[0] == '\\' && rel.substr(1).starts_with(root)) {
    base = "\\" + root;
  }
  rel.remove_prefix(base.size());

  bool safe = true;
  for (std::size_t start = 0; start <= rel.size();) {
    const std::size_t end = std::min(rel.find('\\', start), rel.size());
    if (rel.substr(start, end - start) == "..") safe = false;
    start = end + 1;
  }
  if (safe && !base.empty()) safe = !platform::HasLinkBelow(base, outputFileName_);
  if (!safe) ReportError(storedName_, "", ArchiveFile(), ec::kInvalidFileName);
  return safe;
}

bool TCustomDClass::BeginEntry(bool isDirectory) {
  if (isDirectory) return true;
  bool accepted = false;
  Paused([&] {
    bool extract = true;
    if (OnBegin) {
      if (OnRenameFile) {
        std::string renamed = outputFileName_;
        OnRenameFile(this, outputFileName_, renamed);
        if (!renamed.empty()) {
          CreateDirectoryTree(ExtractFilePath(renamed));
          outputFileName_ = renamed;
        }
      }
      OnBegin(this, outputFileName_, fileCount_ + 1, extract);
    }
    if (Cancel() || !extract) return;

    if (!ConfirmOverwrites()) {
      accepted = OverwriteMode() == omOverwrite;
      if (accepted) ++fileCount_;
      return;
    }

    SetOverwriteMode(omOverwrite);
    const auto existing = platform::GetFileAttributes(outputFileName_);
    if (existing && !(*existing & platform::kAttrDirectory)) {
      if (!OnFileExists) {
        ReportError(outputFileName_, "OnFileExists", ArchiveFile(), ec::kRequiredEvent);
        SetOverwriteMode(omSkip);
      } else {
        TOverwriteMode mode;
        do {
          std::string newName;
          mode = OverwriteMode();
          OnFileExists(this, outputFileName_, newName, mode);
          SetOverwriteMode(mode);
          if (newName.empty()) newName = outputFileName_;
          CreateDirectoryTree(ExtractFilePath(newName));
          if (mode == omOverwrite) {
            if (EqualsIgnoreCase(newName, outputFileName_)) break;  // overwrite in place
            outputFileName_ = newName;
          }
        } while (!Cancel() && OverwriteMode() != omSkip && NamePresent(outputFileName_));

        if (!Cancel() && OverwriteMode() != omSkip) {
          const auto target = platform::GetFileAttributes(outputFileName_);
          if (target && (*target & platform::kAttrReadOnly)) {
            if (*target & (platform::kAttrSystem | platform::kAttrDirectory)) {
              ReportError(outputFileName_, "", ArchiveFile(), ec::kWriteError);
              return;
            }
            platform::SetFileAttributes(outputFileName_, platform::kAttrNormal);
          }
        }
      }
    }
    accepted = !Cancel() && OverwriteMode() == omOverwrite && !outputFileName_.empty();
    if (accepted) ++fileCount_;
  });
  return accepted;
}

bool TCustomDClass::CreateOutputFile(std::unique_ptr<TFileStream32>& out,
                                     const std::string& fileName) {
  if (entryEncrypted_ && passwordFailed_) return true;
  if (fileName.empty()) return false;
  CreateDirectoryTree(ExtractFileDir(fileName));
  out = std::make_unique<TFileStream32>(fileName, fmCreate);
  return out->Handle() != platform::kInvalidHandle;
}

void TCustomDClass::CloseOutputFile(std::unique_ptr<TFileStream32>& out,
                                    const std::string& fileName, std::uint32_t attributes,
                                    std::uint32_t dosDateTime) {
  bool closed = true;
  if (out) {
    if (out->Valid())
      platform::SetLastWriteTimeFromDos(out->Handle(), ResolveFileDate(dosDateTime));
    closed = out->Close();
    out.reset();
  }
  if (!closed) ReportError(fileName, "", ArchiveFile(), ec::kCloseError);
  if (RestoreFileAttr() && attributes != platform::kAttrArchive)
    platform::SetFileAttributes(fileName, attributes);
}

std::uint32_t TCustomDClass::ResolveFileDate(std::uint32_t dosDateTime) const {
  switch (DateAttribute()) {
    case daFileDate:
      return dosDateTime;
    case daSysDate: {
      const platform::SystemTime now = platform::LocalTimeNow();
      return DateValueToDos(
          EncodeDateValue(now.year, now.month, now.day, now.hour, now.minute, now.second));
    }
    case daMaxFileDate:
      return latestEntryDate_;
  }
  return dosDateTime;
}

}  // namespace quern
