// Files with access and sharing modes, attributes, times and directory queries, plus the write
// and open faults the tests inject.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quern::platform {
namespace {

thread_local SystemError lastError = SystemError::None;

void Fail(SystemError error) {
  lastError = error;
}

SystemError FromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return SystemError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP:  // a final link that O_NOFOLLOW refused
      return SystemError::AccessDenied;
    case ENOSPC:
    case EDQUOT:
      return SystemError::DiskFull;
    case ETXTBSY:  // a running program cannot be opened for writing
      return SystemError::SharingViolation;
    default:
      return SystemError::Other;
  }
}

void FailErrno() {
  Fail(FromErrno(errno));
}

// ---------------------------------------------------------------------------------------------
// Sharing. Every open handle announces what it does and what it forbids as read locks on four
// bytes far past any real end of file; an opener asks whether another open file description
// holds the byte that excludes it. Open-file-description locks conflict between two opens of
// one process as well as between processes, and vanish with the last descriptor.

enum class Mark { HaveRead, HaveWrite, DenyRead, DenyWrite };

off_t MarkOffset(Mark mark) {
  return LLONG_MAX - 8 + static_cast<off_t>(mark);
}

struct flock MarkLock(Mark mark, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = MarkOffset(mark);
  lock.l_len = 1;
  return lock;
}

// True when another open of the file holds the mark. A file system without these locks
// holds none.
bool HeldByOther(int fd, Mark mark) {
  struct flock lock = MarkLock(mark, F_WRLCK);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

bool Announce(int fd, Mark mark) {
  struct flock lock = MarkLock(mark, F_RDLCK);
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  // Only a conflict is a refusal; a file system without these locks cannot share-check.
  return errno != EAGAIN && errno != EACCES;
}

bool Reads(Access access) {
  return access != Access::Write;
}
bool Writes(Access access) {
  return access != Access::Read;
}
bool DeniesRead(Share share) {
  return share == Share::None || share == Share::Write;
}
bool DeniesWrite(Share share) {
  return share == Share::None || share == Share::Read;
}

// Places this handle's marks, then looks for the marks of others that exclude it. Two openers
// racing each other may then both be refused, but never both admitted. `canMark` is false for
// a write-only descriptor, which cannot hold read locks: it is checked but announces nothing.
bool ClaimSharing(int fd, Access access, Share share, bool canMark) {
  if (canMark) {
    if ((Reads(access) && !Announce(fd, Mark::HaveRead)) ||
        (Writes(access) && !Announce(fd, Mark::HaveWrite)) ||
        (DeniesRead(share) && !Announce(fd, Mark::DenyRead)) ||
        (DeniesWrite(share) && !Announce(fd, Mark::DenyWrite)))
      return false;
  }
  return !((Reads(access) && HeldByOther(fd, Mark::DenyRead)) ||
           (Writes(access) && HeldByOther(fd, Mark::DenyWrite)) ||
           (DeniesRead(share) && HeldByOther(fd, Mark::HaveRead)) ||
           (DeniesWrite(share) && HeldByOther(fd, Mark::HaveWrite)));
}

bool ReadOnlyMode(mode_t mode) {
  return (mode & 0222) == 0;
}

// ---------------------------------------------------------------------------------------------
// Faults

std::mutex faultMutex;
std::atomic<bool> faultsInstalled{false};
FaultPlan faultPlan;
int writesSeen = 0;
int readsSeen = 0;

bool OpenFaulted(std::string_view path) {
  if (!faultsInstalled.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(faultMutex);
  return !faultPlan.failOpenOf.empty() && ToNativePath(faultPlan.failOpenOf) == ToNativePath(path);
}

bool ReadFaulted() {
  if (!faultsInstalled.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(faultMutex);
  if (faultPlan.readsBeforeFailure < 0) return false;
  const int index = readsSeen++;
  return index >= faultPlan.readsBeforeFailure &&
         (faultPlan.readsToFault < 0 ||
          index < faultPlan.readsBeforeFailure + faultPlan.readsToFault);
}

bool CreateFaulted(std::string_view path) {
  if (!faultsInstalled.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(faultMutex);
  if (faultPlan.failCreateBelow.empty()) return false;
  std::string below = ToNativePath(faultPlan.failCreateBelow);
  while (!below.empty() && below.back() == '/')
    below.pop_back();
  return ToNativePath(path).starts_with(below + "/");
}

bool CloseFaulted() {
  if (!faultsInstalled.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(faultMutex);
  return faultPlan.failClose;
}

WriteFault NextWriteFault() {
  if (!faultsInstalled.load(std::memory_order_acquire)) return WriteFault::None;
  std::lock_guard lock(faultMutex);
  int index = writesSeen++;
  if (faultPlan.write == WriteFault::None || index < faultPlan.writesToSkip)
    return WriteFault::None;
  if (faultPlan.writesToFault >= 0 && index >= faultPlan.writesToSkip + faultPlan.writesToFault)
    return WriteFault::None;
  return faultPlan.write;
}

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do
    fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

size_t WriteAll(int fd, const void* buffer, size_t count) {
  const char* bytes = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailErrno();
      break;
    }
    if (n == 0) {  // the system made no progress and gave no reason
      Fail(SystemError::Other);
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != name.npos;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

// A pattern ending in ".*" also takes names with no extension, as "*.*" takes every name.
bool DosMatch(std::string_view pattern, std::string_view name) {
  if (WildcardMatch(pattern, name)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == name.npos)
    return WildcardMatch(pattern.substr(0, pattern.size() - 2), name);
  return false;
}

}  // namespace

SystemError LastError() {
  return lastError;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

Handle OpenFile(std::string_view path, Access access, Share share) {
  if (OpenFaulted(path)) {
    Fail(SystemError::AccessDenied);
    return kInvalidHandle;
  }
  const std::string native = ToNativePath(path);
  // Writers open for reading as well when they may, so that they can hold read-lock marks.
  // Non-blocking, so that a named pipe cannot stall the open; it is refused below.
  int flags = (access == Access::Read ? O_RDONLY : O_RDWR) | O_NONBLOCK;
  int fd = OpenRetrying(native, flags);
  bool canMark = true;
  if (fd < 0 && access == Access::Write && errno == EACCES) {
    fd = OpenRetrying(native, O_WRONLY | O_NONBLOCK);
    canMark = false;
  }
  if (fd < 0) {
    FailErrno();
    return kInvalidHandle;
  }

  struct stat st {};
  SystemError refusal = SystemError::None;
  if (fstat(fd, &st) != 0)
    refusal = FromErrno(errno);
  else if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    refusal = SystemError::AccessDenied;
  // The read-only attribute holds for every user, including one the system lets write anyway.
  else if (Writes(access) && ReadOnlyMode(st.st_mode))
    refusal = SystemError::AccessDenied;
  else if (!ClaimSharing(fd, access, share, canMark))
    refusal = SystemError::SharingViolation;
  else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
    refusal = FromErrno(errno);
  if (refusal != SystemError::None) {
    close(fd);
    Fail(refusal);
    return kInvalidHandle;
  }
  return fd;
}

Handle CreateFile(std::string_view path) {
  if (OpenFaulted(path) || CreateFaulted(path)) {
    Fail(SystemError::AccessDenied);
    return kInvalidHandle;
  }
  const std::string native = ToNativePath(path);
  // An existing file is emptied only after its read-only attribute and the sharing modes of its
  // other openers have been checked, so the exclusive create comes first and the truncation last.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = OpenRetrying(native, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;

    fd = OpenRetrying(native, O_RDWR | O_NOFOLLOW);
    if (fd < 0) {
      if (errno == ENOENT) continue;  // removed in between: create it after all
      break;
    }
    struct stat st {};
    SystemError refusal = SystemError::None;
    if (fstat(fd, &st) != 0)
      refusal = FromErrno(errno);
    else if (!S_ISREG(st.st_mode) || ReadOnlyMode(st.st_mode))
      refusal = SystemError::AccessDenied;
    else if (!ClaimSharing(fd, Access::ReadWrite, Share::None, true))
      refusal = SystemError::SharingViolation;
    else if (ftruncate(fd, 0) != 0)
      refusal = FromErrno(errno);
    if (refusal == SystemError::None) return fd;
    close(fd);
    Fail(refusal);
    return kInvalidHandle;
  }
  FailErrno();
  return kInvalidHandle;
}

bool CloseFile(Handle handle) {
  if (close(handle) == 0) {
    if (!CloseFaulted()) return true;
    errno = EIO;
  }
  FailErrno();
  return false;
}

// ---------------------------------------------------------------------------------------------
// Reading, writing, positioning

size_t ReadFile(Handle handle, void* buffer, size_t count) {
  if (ReadFaulted()) {
    errno = EIO;
    FailErrno();
    return 0;
  }
  if (count > SSIZE_MAX) count = SSIZE_MAX;
  ssize_t n;
  do
    n = read(handle, buffer, count);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    FailErrno();
    return 0;
  }
  return static_cast<size_t>(n);
}

size_t WriteFile(Handle handle, const void* buffer, size_t count) {
  switch (NextWriteFault()) {
    case WriteFault::None:
      return WriteAll(handle, buffer, count);
    case WriteFault::Short: {
      size_t done = WriteAll(handle, buffer, count / 2);
      if (done == count / 2) Fail(SystemError::Other);
      return done;
    }
    case WriteFault::DiskFull: {
      size_t done = WriteAll(handle, buffer, count / 2);
      if (done == count / 2) Fail(SystemError::DiskFull);
      return done;
    }
  }
  return 0;
}

int64_t SeekFile(Handle handle, int64_t offset, Origin origin) {
  int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
  off_t position = lseek(handle, offset, whence);
  if (position < 0) {
    FailErrno();
    return -1;
  }
  return position;
}

bool SetEndOfFile(Handle handle) {
  off_t position = lseek(handle, 0, SEEK_CUR);
  if (position < 0 || ftruncate(handle, position) != 0) {
    FailErrno();
    return false;
  }
  return true;
}

bool SetLastWriteTimeFromDos(Handle handle, uint32_t dosDateTime) {
  const unsigned date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  const int year = 1980 + static_cast<int>(date >> 9), month = (date >> 5) & 0x0F,
            day = date & 0x1F;
  const int hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0) ||
      hour > 23 || minute > 59 || second > 59) {
    Fail(SystemError::Other);
    return false;
  }

  struct tm local {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;  // the zone's rules say whether daylight saving applied on that date
  time_t when = mktime(&local);
  if (when == static_cast<time_t>(-1)) {
    Fail(SystemError::Other);
    return false;
  }
  struct timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
  if (futimens(handle, times) != 0) {
    FailErrno();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Attributes

std::optional<uint32_t> GetFileAttributes(std::string_view path) {
  struct stat st {};
  if (stat(ToNativePath(path).c_str(), &st) != 0) {
    FailErrno();
    return std::nullopt;
  }
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (S_ISREG(st.st_mode)) attributes |= kAttrArchive;
  if (ReadOnlyMode(st.st_mode)) attributes |= kAttrReadOnly;
  return attributes != 0 ? attributes : kAttrNormal;
}

bool SetFileAttributes(std::string_view path, uint32_t attributes) {
  const std::string native = ToNativePath(path);
  struct stat st {};
  if (lstat(native.c_str(), &st) != 0) {
    FailErrno();
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    Fail(SystemError::AccessDenied);
    return false;
  }
  // A read-only directory stays writable, as it does for Windows: the attribute must not keep
  // the rest of an archive from being unpacked into it.
  if (S_ISDIR(st.st_mode)) return true;

  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) != 0 ? (mode & ~0222) : (mode | S_IWUSR);
  if (mode == (st.st_mode & 07777)) return true;
  // No final link is followed, even one put there since the look above.
  if (fchmodat(AT_FDCWD, native.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail(errno == EOPNOTSUPP ? SystemError::AccessDenied : FromErrno(errno));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Directories

bool FindAny(std::string_view pathOrPattern) {
  const std::string native = ToNativePath(pathOrPattern);
  const size_t slash = native.rfind('/');
  const std::string_view name =
      slash == native.npos ? std::string_view(native) : std::string_view(native).substr(slash + 1);
  if (!HasWildcard(name)) {
    struct stat st {};
    if (lstat(native.c_str(), &st) == 0) return true;
    FailErrno();
    return false;
  }

  const std::string directory = slash == native.npos ? "."
                                : slash == 0         ? "/"
                                                     : native.substr(0, slash);
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    FailErrno();
    return false;
  }
  bool found = false;
  // The directory itself and its parent are not entries a search finds.
  while (const dirent* entry = readdir(dir)) {
    std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (DosMatch(name, entryName)) {
      found = true;
      break;
    }
  }
  closedir(dir);
  if (!found) Fail(SystemError::NotFound);
  return found;
}

bool FileExists(std::string_view path) {
  struct stat st {};
  if (stat(ToNativePath(path).c_str(), &st) != 0) {
    FailErrno();
    return false;
  }
  return !S_ISDIR(st.st_mode);
}

bool CreateDirectory(std::string_view path) {
  if (CreateFaulted(path)) {
    Fail(SystemError::AccessDenied);
    return false;
  }
  if (mkdir(ToNativePath(path).c_str(), 0777) == 0) return true;
  FailErrno();
  return false;
}

bool HasLinkBelow(std::string_view root, std::string_view path) {
  std::string nativeRoot = ToNativePath(root);
  const std::string nativePath = ToNativePath(path);
  while (!nativeRoot.empty() && nativeRoot.back() == '/')
    nativeRoot.pop_back();
  // A path that is not under the root cannot be vouched for.
  if (nativePath.compare(0, nativeRoot.size(), nativeRoot) != 0 ||
      (nativePath.size() > nativeRoot.size() && nativePath[nativeRoot.size()] != '/'))
    return true;

  std::string walked = nativeRoot;
  std::string_view rest = std::string_view(nativePath).substr(nativeRoot.size());
  while (!rest.empty()) {
    size_t end = rest.find('/');
    std::string_view part = rest.substr(0, end);
    rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") return true;  // it may climb out of the root
    walked += '/';
    walked += part;
    struct stat st {};
    // Nothing further down exists yet, so nothing there can be a link.
    if (lstat(walked.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Faults

void InstallFaults(const FaultPlan& plan) {
  std::lock_guard lock(faultMutex);
  faultPlan = plan;
  writesSeen = 0;
  readsSeen = 0;
  faultsInstalled.store(true, std::memory_order_release);
}

void ClearFaults() {
  std::lock_guard lock(faultMutex);
  faultPlan = FaultPlan{};
  writesSeen = 0;
  readsSeen = 0;
  faultsInstalled.store(false, std::memory_order_release);
}

}  // namespace quern::platform
