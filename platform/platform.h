// The host services the engine needs from the operating system: files with access and sharing
// modes, attributes and times, directories, the clock, the time zone and the OEM code page.
//
// Paths cross this boundary in the engine's form: "\" separators, optionally a leading drive
// ("C:"). The layer turns "\" into "/" and drops the drive at the system call; paths it hands
// back (full path, current directory, temporary directory) come in the engine's form again, so
// "/home/a/x.bh" travels as "\home\a\x.bh" and returns unchanged.
//
// Nothing here throws. Failures are results: the invalid handle, false, an empty optional.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quern::platform {

// ---------------------------------------------------------------------------------------------
// Paths

// The engine form of a path as the system wants it: "\" becomes "/", a leading "X:" is dropped.
std::string ToNativePath(std::string_view enginePath);
// A system path in the engine's form: "/" becomes "\".
std::string FromNativePath(std::string_view nativePath);

// ---------------------------------------------------------------------------------------------
// Files

// A file handle: a non-negative system descriptor, or kInvalidHandle.
using Handle = std::int32_t;
inline constexpr Handle kInvalidHandle = -1;

enum class Access { Read, Write, ReadWrite };
// What other openers of the same file may do while this handle is open.
enum class Share { None, Read, Write, ReadWrite };

// What the last failing file operation of this thread ran into.
enum class SystemError { None, NotFound, AccessDenied, SharingViolation, DiskFull, Other };
SystemError LastError();

// Opens an existing file; never creates one. Returns kInvalidHandle when the file is missing,
// is a directory, is read-only while write access is asked, or when the sharing modes of this
// or another open handle (of any process using this layer) exclude each other.
Handle OpenFile(std::string_view path, Access access, Share share);
// Creates a file for reading and writing with no sharing, replacing (emptying) an existing one.
// A final symbolic link is never followed, and an existing read-only file is refused, as is a
// directory of that name. Returns kInvalidHandle on failure.
Handle CreateFile(std::string_view path);
// Closes the handle; false when the system reports a failure (the handle is gone either way).
bool CloseFile(Handle handle);

// Reads up to count bytes at the file pointer; returns the number read, 0 at the end of the
// file and on any failure.
std::size_t ReadFile(Handle handle, void* buffer, std::size_t count);
// Writes count bytes at the file pointer; returns the number written. When fewer than count
// were written, LastError() tells why (DiskFull when the file system is out of space).
std::size_t WriteFile(Handle handle, const void* buffer, std::size_t count);

enum class Origin { Begin = 0, Current = 1, End = 2 };
// Moves the file pointer; returns the new position or -1 on failure.
std::int64_t SeekFile(Handle handle, std::int64_t offset, Origin origin);
// Makes the current file pointer the end of the file.
bool SetEndOfFile(Handle handle);

// Sets the last-write time of an open file from a local MS-DOS date and time (date in the high
// half, time in the low half). False when the value is not a valid date or the system refuses.
bool SetLastWriteTimeFromDos(Handle handle, std::uint32_t dosDateTime);

// ---------------------------------------------------------------------------------------------
// Attributes, in the DOS bits the archive formats store.

inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;

// Directory (0x10) and read-only (0x01: no write permission bits) from the mode; archive (0x20)
// for every regular file. A symbolic link is reported as what it points to. Empty when the
// path does not exist.
std::optional<std::uint32_t> GetFileAttributes(std::string_view path);
// Read-only set removes every write permission bit, clear gives the owner write permission;
// the other bits are accepted and ignored. A final symbolic link is never followed (false). A
// directory keeps its mode, as a read-only directory stays writable for Windows too.
bool SetFileAttributes(std::string_view path, std::uint32_t attributes);

// ---------------------------------------------------------------------------------------------
// Directories

// True when a directory search for the path finds anything: the path itself exists (file,
// directory or link), or, when its last component holds "*" or "?", some entry of its
// directory matches it (DOS wildcard rules, letters compared without regard to case; "." and
// ".." are not entries found, and a pattern ending in ".*" also matches names without a dot).
bool FindAny(std::string_view pathOrPattern);
// True when the path names an existing file that is not a directory (links are followed).
bool FileExists(std::string_view path);
// Creates one directory (its parent must exist); false when it exists or cannot be made.
bool CreateDirectory(std::string_view path);
// True when some component of the path, below `root`, is a symbolic link. `path` must lie
// under `root` (both in engine form, root ending in "\").
bool HasLinkBelow(std::string_view root, std::string_view path);

// The absolute form of a path: relative paths are taken from the current directory, "." and
// ".." components are resolved by text (no link is followed). A trailing "\" is kept. A drive
// is dropped, as it names nothing here.
std::string FullPath(std::string_view path);
// The process's current directory, without a trailing separator except for the root.
std::string CurrentDirectory();
// The user's private temporary directory, ending in "\". It is $TMPDIR (or /tmp) plus
// "tarsel-<uid>", created with mode 0700 and used only while it is a real directory owned by
// the user with no group or other access; otherwise a fresh private directory is made (once per
// process). Empty when no directory can be made.
std::string TempDirectory();
// The directory TempDirectory() picks when $TMPDIR is `base` (engine form), without remembering
// the choice: for tests.
std::string TempDirectoryIn(std::string_view base);

// ---------------------------------------------------------------------------------------------
// Clock and time zone

// Milliseconds on a monotonic clock, counted from the first call plus one: never 0 or negative
// for the first 24 days of a process.
std::int32_t TickCount();

struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;      // 1..12
  std::uint16_t dayOfWeek = 0;  // 0 = Sunday
  std::uint16_t day = 0;        // 1..31, or 1..5 (week of the month) in a recurring rule
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

// The current local date and time.
SystemTime LocalTimeNow();

// The zone as a Windows time-zone description: UTC = local time + bias (minutes). A daylight
// transition month of 0 means the zone has no daylight saving.
struct TimeZoneRecord {
  std::int32_t bias = 0;
  std::int32_t standardBias = 0;
  std::int32_t daylightBias = 0;
  SystemTime standardDate;
  SystemTime daylightDate;
};

// The record built from the C library's zone rules for the current year, with the transitions
// as absolute dates; captured on first use and kept for the process, unless a test installs
// another one.
const TimeZoneRecord& TimeZone();
void InstallTimeZone(const TimeZoneRecord& record);
// The record for the given year from the zone the C library has now (after tzset, so a test can
// change TZ first).
TimeZoneRecord BuildTimeZoneRecord(int year);

// ---------------------------------------------------------------------------------------------
// Character sets

// Converts a name from the OEM code page (CP437, or the code page the environment variable
// QUERN_OEMCP names, e.g. "850") to the ANSI code page (UTF-8). A byte that does not convert
// becomes "?"; nothing is dropped.
std::string OemToAnsi(std::string_view oem);

// ---------------------------------------------------------------------------------------------
// Fault injection, for tests: makes chosen operations fail as a failing disk would.

enum class WriteFault {
  None,
  Short,     // half of the bytes are written, the error is Other
  DiskFull,  // half of the bytes are written, the error is DiskFull
};

struct FaultPlan {
  WriteFault write = WriteFault::None;
  int writesToSkip = 0;   // writes that succeed before the fault applies
  int writesToFault = 1;  // how many writes fail after those (-1: every later write)
  // Opens and creates of this engine path (compared after ToNativePath) fail.
  std::string failOpenOf;
  // Every close reports a failure (the descriptor is still released), as a file system that
  // loses data at the last flush does.
  bool failClose = false;
  // Reads fail with an I/O error once this many have succeeded (-1: reads never fail), for
  // readsToFault reads (-1: every later read).
  int readsBeforeFailure = -1;
  int readsToFault = -1;
  // Nothing can be created below this engine path: a directory the user may not write to.
  std::string failCreateBelow;
};

void InstallFaults(const FaultPlan& plan);
void ClearFaults();

// ---------------------------------------------------------------------------------------------
// Program files: the string resources of a PE image, read as data. Nothing of the file is
// loaded or run, and every structure on the way is checked against the file before it is read.

// Reads up to `count` bytes at `offset` into `buffer`; returns how many came.
using ByteSource =
    std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t count)>;

class ProgramStrings {
 public:
  // Finds the resource directory of a PE image of `size` bytes read through `source`. Empty
  // when the bytes are no PE image (headers missing or cut short, more than 96 sections) or
  // when the image has no resource directory inside one of its sections.
  static std::optional<ProgramStrings> Open(ByteSource source, std::uint64_t size);

  // String resource `id`: at most `maxChars` of its UTF-16 units, in the ANSI code page
  // (UTF-8); a unit that does not convert becomes "?". Empty when the image holds no such
  // string, and when a directory, entry or string block on the way does not lie inside the
  // resource directory and the file (the string is then missing, not partly read).
  std::string Load(std::uint16_t id, std::size_t maxChars) const;

 private:
  struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;    // bytes of the section present in the file
    std::uint32_t rawOffset = 0;  // where they start in the file
  };
  ProgramStrings(ByteSource source, std::uint64_t size, std::vector<Section> sections,
                 std::uint32_t directoryRva, std::uint32_t directorySize);

  // Where `count` bytes at an image address lie in the file; empty when any of them lies
  // outside the sections' file data or the file.
  std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t count) const;
  // Reads exactly `count` bytes at an image address; false when FileOffset has none.
  bool ReadRva(std::uint32_t rva, void* buffer, std::size_t count) const;
  // Reads exactly `count` bytes at `offset` within the resource directory.
  bool ReadDirectory(std::uint32_t offset, void* buffer, std::size_t count) const;
  // The entry for `id` in the directory at `offset`: the word after the identifier.
  std::optional<std::uint32_t> FindEntry(std::uint32_t offset, std::uint16_t id) const;
  std::optional<std::uint32_t> FirstEntry(std::uint32_t offset) const;

  ByteSource source_;
  std::uint64_t size_ = 0;
  std::vector<Section> sections_;
  std::uint32_t directoryRva_ = 0;   // image address of the resource directory
  std::uint32_t directorySize_ = 0;  // its declared size; nothing of it is read past this
};

// ---------------------------------------------------------------------------------------------
// Drives and volumes, for archives split over disks. A drive is the mount that holds a path; its
// root is the mount point in the engine's form ("\" for the root file system, "\media\usb").

// The system's drive-type codes.
enum class DriveType : std::uint8_t {
  Unknown = 0,
  NoRootDir = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CdRom = 5,
  RamDisk = 6,
};

struct DiskSpace {
  std::uint64_t freeBytes = 0;   // available to this user
  std::uint64_t totalBytes = 0;  // size of the file system
};

struct VolumeInformation {
  std::string label;                     // empty when the volume has none
  std::uint32_t serialNumber = 0;        // the low 32 bits of the volume's UUID, or 0
  std::uint32_t maxComponentLength = 0;  // the longest file name the file system allows
  std::uint32_t fileSystemFlags = 0;     // FILE_CASE_SENSITIVE_SEARCH etc., as Windows counts
  std::string fileSystemName;            // the kernel's name of the file-system type ("vfat")
};

// The root of the drive that holds `path` (a relative path is taken from the current
// directory): the mount point of the mount holding it. Empty when no mount holds it.
std::string DriveRoot(std::string_view path);
// Free and total bytes of the drive at `root`; empty when the drive cannot be read (not ready).
std::optional<DiskSpace> GetDiskSpace(std::string_view root);
// True when the drive at `root` is mounted read-only.
bool IsWriteProtected(std::string_view root);
// The volume's label, serial number and file system; empty when they cannot be read, and then
// `whyNot` holds the system's message.
std::optional<VolumeInformation> GetVolumeInformation(std::string_view root, std::string& whyNot);
// What kind of drive `root` is: remote for network file systems, CD-ROM for iso9660 and udf,
// RAM for tmpfs and ramfs, removable or fixed by the block device's "removable" flag (fixed for
// mounts without a block device), no root directory when `root` does not exist.
DriveType GetDriveType(std::string_view root);

// For tests: a drive as the queries above report it.
struct DriveRecord {
  std::string root;  // engine form, like DriveRoot's results
  DriveType type = DriveType::Fixed;
  std::optional<DiskSpace> space = DiskSpace{};  // empty: the drive is not ready
  bool writeProtected = false;
  std::optional<VolumeInformation> volume = VolumeInformation{};  // empty: unreadable
};
// Makes every drive query answer from `drives` instead of the system: a path belongs to the
// record with the longest root that holds it, and a root no record names has no drive.
void InstallDrives(std::vector<DriveRecord> drives);
void ClearDrives();

}  // namespace quern::platform
