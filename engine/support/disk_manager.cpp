#include "engine/support/disk_manager.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/platform.h"

namespace quern {

namespace {

// The codes the drive check reports; their texts live with the engine's message table.
constexpr int kNotAccessible = 25170;
constexpr int kWriteProtected = 25171;
constexpr int kUserCanceled = 25443;
constexpr std::string_view kNotAccessibleText = "is not accessible";

constexpr std::string_view kLabelPrefix = "PKBACK# ";

std::string UpperCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

}  // namespace

void TDiskCommon::Report(const std::string& drive, int code) const {
  if (ErrorReport) ErrorReport(drive, "0", "0", code);
}

std::string DriveOfPath(std::string_view path) {
  if (IsUncName(path)) {
    // "\\server\share": the first two names after the leading separators.
    const std::size_t server = path.find('\\', 2);
    const std::size_t share =
        server == std::string_view::npos ? server : path.find('\\', server + 1);
    return std::string(path.substr(0, share));
  }
  return platform::DriveRoot(path);
}

bool TDiskManager::CheckDrive(std::string_view archivePath) {
  try {
    return Check(DriveOfPath(archivePath));
  } catch (...) {
    return false;
  }
}

bool TDiskManager::Check(const std::string& drive) {
  // Asks a prompt whether to test again; false when it is absent or leaves Cancel set.
  auto tryAgain = [this](const TOnDiskPrompt& prompt) {
    bool cancel = true;
    prompt(this, cancel);
    return !cancel;
  };

  // A network share has no readiness or write protection to test.
  if (!IsUncName(drive)) {
    while (!platform::GetDiskSpace(drive)) {
      if (!OnDriveNotReady) {
        Report(drive, kNotAccessible);
        return false;
      }
      if (!tryAgain(OnDriveNotReady)) {
        Report(drive, kUserCanceled);
        return false;
      }
    }
    while (platform::IsWriteProtected(drive)) {
      if (!OnWriteProtected) {
        Report(drive, kWriteProtected);
        return false;
      }
      if (!tryAgain(OnWriteProtected)) {
        Report(drive, kUserCanceled);
        return false;
      }
    }
  }

  std::optional<platform::VolumeInformation> volume;
  for (;;) {
    std::string whyNot;
    volume = platform::GetVolumeInformation(drive, whyNot);
    if (volume) break;
    const std::string text =
        UpperCase(drive + "\\") + std::string(kNotAccessibleText) + "\r\n\r\n" + whyNot;
    if (!OnVolumeRetry || !OnVolumeRetry(this, text)) {
      Report(drive, kNotAccessible);
      return false;
    }
  }

  drive_ = drive;
  volumeLabel_ = volume->label.substr(0, 256);
  const auto diskNumber = DiskNumberFromLabel(volumeLabel_);
  if (!diskNumber) return false;
  diskNumber_ = *diskNumber;
  volumeId_ = volume->serialNumber;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", volumeId_);
  volumeIdText_ = hex;
  maxComponentLength_ = volume->maxComponentLength;
  fileSystemName_ = volume->fileSystemName;

  driveType_ =
      drive.empty() ? std::uint8_t{1} : static_cast<std::uint8_t>(platform::GetDriveType(drive));
  if (driveType_ == static_cast<std::uint8_t>(platform::DriveType::NoRootDir)) {
    Report(drive, kNotAccessible);
    return false;
  }
  // A share mounted without a drive letter has no space of its own to ask for.
  const bool remote = driveType_ == static_cast<std::uint8_t>(platform::DriveType::Remote);
  if (!remote || (drive.size() >= 2 && drive[1] == ':')) {
    if (const auto space = platform::GetDiskSpace(drive)) {
      freeBytes_ = static_cast<std::int64_t>(space->freeBytes);
      totalBytes_ = static_cast<std::int64_t>(space->totalBytes);
    }
  }
  floppyKind_ = 0;  // no BIOS disk service here to tell 3½-inch from 5¼-inch drives
  driveTypeName_ = quern::DriveTypeName(
      driveType_ == static_cast<std::uint8_t>(platform::DriveType::Removable) ? floppyKind_
                                                                              : driveType_);
  fileSystemFlags_ = volume->fileSystemFlags;
  return true;
}

std::string_view DriveTypeName(std::uint8_t index) {
  // ½ and ¼ as the ANSI code page (UTF-8) writes them.
  static constexpr std::string_view kNames[] = {
      "Unknown",          "None", "Floppy", "Fixed", "Network", "CD-ROM", "RAM", "3\xC2\xBD Floppy",
      "5\xC2\xBC Floppy",
  };
  return index < std::size(kNames) ? kNames[index] : kNames[0];
}

std::optional<std::uint16_t> DiskNumberFromLabel(std::string_view label) {
  if (label.find(kLabelPrefix) == std::string_view::npos) return 0;
  std::string rest(label);
  std::string last;
  while (!rest.empty())
    last = SplitAtDelimiter(rest, kLabelPrefix);
  if (last.empty()) return std::nullopt;
  std::uint32_t number = 0;
  for (char c : last) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + static_cast<std::uint32_t>(c - '0');
    if (number > 0xFFFF) return 0;
  }
  return static_cast<std::uint16_t>(number);
}

TArcType SplitSetKind(std::string_view archivePath) {
  TDiskManager disks;
  if (!disks.CheckDrive(archivePath)) return atNA;
  if (disks.DriveType() != static_cast<std::uint8_t>(platform::DriveType::Removable))
    return atZipMV;
  std::string label = disks.VolumeLabel();
  return UpperCase(SplitAtDelimiter(label, " ")) == "PKBACK#" ? atZipDS : atZipMV;
}

}  // namespace quern
