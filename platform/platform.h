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
#include <optional>
#include <string>
#include <string_view>

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
};

void InstallFaults(const FaultPlan& plan);
void ClearFaults();

}  // namespace quern::platform
