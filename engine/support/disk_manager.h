// The drive check for archives split over several disks or volumes, and what it learns of the
// drive: its label (with the disk number of a "PKBACK# nnn" label), volume ID, file system, kind
// and space. A drive here is the mount that holds the archive, or a network share "\\server\share".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/support/qrn_gbls.h"

namespace quern {

class TDiskCommon;

// The owner's error report (its ReportError).
using TDiskErrorReport =
    std::function<void(const std::string& FileName, const std::string& ExtendedMsg,
                       const std::string& VolumeID, int ECode)>;
// A prompt that may let the check try again: Cancel arrives set, and a handler that clears it
// asks for another test of the drive.
using TOnDiskPrompt = std::function<void(TDiskCommon* Sender, bool& Cancel)>;
// The host's Retry/Cancel question when a drive's volume information cannot be read. Text holds
// the drive, why it is not accessible and the system's reason. True: retry.
using TOnVolumeRetry = std::function<bool(TDiskCommon* Sender, const std::string& Text)>;

// The callbacks an owner hands to the drive check; each may be left empty.
class TDiskCommon {
 public:
  virtual ~TDiskCommon() = default;

  TDiskErrorReport ErrorReport;    // without it the check fails silently
  TOnDiskPrompt OnDriveNotReady;   // without it a drive that is not ready fails (25170)
  TOnDiskPrompt OnWriteProtected;  // without it a read-only drive fails (25171)
  TOnVolumeRetry OnVolumeRetry;    // without it unreadable volume information fails (25170)

 protected:
  // Reports `code` for drive `drive` through ErrorReport, when there is one.
  void Report(const std::string& drive, int code) const;
};

class TDiskManager : public TDiskCommon {
 public:
  // Checks the drive that holds `archivePath` (a relative path lies on the current directory's
  // drive). True when it can be used; the fields below then describe it. A drive that is not
  // ready or is write-protected, a volume whose information cannot be read and a path with no
  // drive fail with a report; a label that ends in "PKBACK# " with no number after it fails
  // without one. Never throws.
  bool CheckDrive(std::string_view archivePath);

  // --- What the last check found
  const std::string& Drive() const { return drive_; }
  const std::string& VolumeLabel() const { return volumeLabel_; }
  std::uint16_t DiskNumber() const { return diskNumber_; }
  std::uint32_t VolumeID() const { return volumeId_; }
  const std::string& VolumeIDText() const { return volumeIdText_; }  // eight hex digits
  std::uint32_t MaxComponentLength() const { return maxComponentLength_; }
  std::uint32_t FileSystemFlags() const { return fileSystemFlags_; }
  const std::string& FileSystemName() const { return fileSystemName_; }
  // 0 unknown, 1 no root directory, 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk.
  std::uint8_t DriveType() const { return driveType_; }
  // For a removable drive: 7 for a 3½-inch floppy, 8 for a 5¼-inch one, 0 when the BIOS disk
  // service that tells them apart is not there (always, on this system).
  std::uint8_t FloppyKind() const { return floppyKind_; }
  const std::string& DriveTypeName() const { return driveTypeName_; }
  std::int64_t FreeBytes() const { return freeBytes_; }
  std::int64_t TotalBytes() const { return totalBytes_; }

 private:
  bool Check(const std::string& drive);

  std::string drive_;
  std::string volumeLabel_;
  std::uint16_t diskNumber_ = 0;
  std::uint32_t volumeId_ = 0;
  std::string volumeIdText_;
  std::uint32_t maxComponentLength_ = 0;
  std::uint32_t fileSystemFlags_ = 0;
  std::string fileSystemName_;
  std::uint8_t driveType_ = 0;
  std::uint8_t floppyKind_ = 0;
  std::string driveTypeName_;
  std::int64_t freeBytes_ = 0;
  std::int64_t totalBytes_ = 0;
};

// The drive that holds a path, as CheckDrive takes it: "\\server\share" for a network name, the
// mount point otherwise; empty when no drive holds it.
std::string DriveOfPath(std::string_view path);

// The name of a drive type (0 to 6), or of a removable drive's floppy kind (7, 8); in the ANSI
// code page. "Unknown" for any other index.
std::string_view DriveTypeName(std::uint8_t index);

// The disk number a volume label carries: the digits after the last "PKBACK# " in it. 0 when the
// label has no "PKBACK# ", or when what follows is not a number a disk can have (other characters,
// above 65535). Empty when "PKBACK# " ends the label: no number at all.
std::optional<std::uint16_t> DiskNumberFromLabel(std::string_view label);

// What kind of split ZIP set an archive is, by the drive it lies on: atZipDS (spanned over
// removable disks) on a removable drive whose label starts with "PKBACK#", atZipMV (volumes) on
// any other drive, atNA when the drive check fails. Nothing is reported.
TArcType SplitSetKind(std::string_view archivePath);

}  // namespace quern
