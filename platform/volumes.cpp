// Drives and volumes: the mount that holds a path stands for the drive. Labels and serial
// numbers come from udev's by-label and by-uuid links, sizes from statvfs, the kind of drive from
// the file-system type and the block device's "removable" flag.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quern::platform {
namespace {

namespace fs = std::filesystem;

// Windows' file-system flags, as GetVolumeInformation reports them.
constexpr std::uint32_t kCaseSensitiveSearch = 0x0000'0001;
constexpr std::uint32_t kCasePreservedNames = 0x0000'0002;
constexpr std::uint32_t kReadOnlyVolume = 0x0008'0000;

struct Mount {
  std::string point;   // native mount point
  std::string type;    // file-system type
  std::string source;  // the device or what stands for it ("tmpfs", "server:/export")
};

// Undoes the octal escapes mountinfo writes for blanks and backslashes ("\040").
std::string UnescapeMountField(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i >= 4 && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 |
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

int HexValue(char c) {
  const auto lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower <= '9' ? lower - '0' : lower - 'a' + 10;
}

// Undoes udev's escapes in link names ("PKBACK#\x20003").
std::string UnescapeUdevName(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && name.size() - i >= 4 && name[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
      out += static_cast<char>(HexValue(name[i + 2]) << 4 | HexValue(name[i + 3]));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The mounts of this process, in mount order (a later one covers an earlier one at the same
// point).
std::vector<Mount> ReadMounts() {
  std::vector<Mount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options, word;
    if (!(fields >> id >> parent >> device >> root >> point >> options)) continue;
    while (fields >> word && word != "-") {
    }
    Mount m;
    if (!(fields >> m.type >> m.source)) continue;
    m.point = UnescapeMountField(point);
    m.source = UnescapeMountField(m.source);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

bool Holds(std::string_view point, std::string_view path) {
  if (!path.starts_with(point)) return false;
  return point.size() == path.size() || point.ends_with('/') || path[point.size()] == '/';
}

// The mount that holds a native path; links on the way are resolved first.
std::optional<Mount> MountHolding(const std::string& nativePath) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(nativePath, error);
  if (error) resolved = fs::path(nativePath).lexically_normal();
  const std::string path = resolved.string();
  std::optional<Mount> best;
  for (Mount& m : ReadMounts())
    if (Holds(m.point, path) && (!best || m.point.size() >= best->point.size())) best = m;
  return best;
}

// The mount whose point `root` names exactly.
std::optional<Mount> MountAt(std::string_view root) {
  const std::string native = ToNativePath(root);
  auto m = MountHolding(native.empty() ? "/" : native);
  if (!m) return std::nullopt;
  std::error_code error;
  if (!fs::equivalent(m->point, native.empty() ? "/" : native, error)) return std::nullopt;
  return m;
}

// The name under `dir` (a udev link directory) whose link leads to `device`; empty if none.
std::string LinkNameFor(const char* dir, const std::string& device) {
  std::error_code error;
  const fs::path target = fs::canonical(device, error);
  if (error) return {};
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    std::error_code e;
    if (fs::canonical(entry.path(), e) == target && !e)
      return UnescapeUdevName(entry.path().filename().string());
  }
  return {};
}

// The serial number a volume of this UUID would carry: its last eight hex digits ("ABCD-1234"
// of a FAT volume is the serial itself, a longer UUID ends in its low half).
std::uint32_t SerialFromUuid(std::string_view uuid) {
  std::uint32_t serial = 0;
  int digits = 0;
  for (auto it = uuid.rbegin(); it != uuid.rend() && digits < 8; ++it) {
    if (!std::isxdigit(static_cast<unsigned char>(*it))) continue;
    serial |= static_cast<std::uint32_t>(HexValue(*it)) << (4 * digits++);
  }
  return serial;
}

// The "removable" flag of the disk a block device belongs to (its own, or its parent's for a
// partition).
bool OnRemovableDisk(const std::string& device) {
  std::error_code error;
  const fs::path node = fs::canonical(device, error);
  if (error) return false;
  fs::path sys = fs::canonical(fs::path("/sys/class/block") / node.filename(), error);
  if (error) return false;
  if (fs::exists(sys / "partition", error)) sys = sys.parent_path();
  std::ifstream flag(sys / "removable");
  char c = '0';
  flag >> c;
  return c == '1';
}

bool OneOf(std::string_view type, std::initializer_list<std::string_view> types) {
  for (std::string_view t : types)
    if (type == t) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------
// Injected drives

std::mutex drivesMutex;
std::optional<std::vector<DriveRecord>> injectedDrives;

// The injected record a path belongs to; `exact` asks for the record whose root it is.
std::optional<DriveRecord> InjectedDrive(std::string_view path, bool exact) {
  const std::vector<DriveRecord>& drives = *injectedDrives;
  const DriveRecord* best = nullptr;
  for (const DriveRecord& d : drives) {
    const bool holds =
        exact ? path == d.root
              : path.starts_with(d.root) && (path.size() == d.root.size() ||
                                             d.root.ends_with('\\') || path[d.root.size()] == '\\');
    if (holds && (!best || d.root.size() > best->root.size())) best = &d;
  }
  if (!best) return std::nullopt;
  return *best;
}

}  // namespace

void InstallDrives(std::vector<DriveRecord> drives) {
  std::lock_guard lock(drivesMutex);
  injectedDrives = std::move(drives);
}

void ClearDrives() {
  std::lock_guard lock(drivesMutex);
  injectedDrives.reset();
}

std::string DriveRoot(std::string_view path) {
  const std::string full = FullPath(path);
  {
    std::lock_guard lock(drivesMutex);
    if (injectedDrives) {
      const auto d = InjectedDrive(full, false);
      return d ? d->root : std::string();
    }
  }
  const auto m = MountHolding(ToNativePath(full));
  return m ? FromNativePath(m->point) : std::string();
}

std::optional<DiskSpace> GetDiskSpace(std::string_view root) {
  {
    std::lock_guard lock(drivesMutex);
    if (injectedDrives) {
      const auto d = InjectedDrive(root, true);
      return d ? d->space : std::nullopt;
    }
  }
  const std::string native = ToNativePath(root);
  struct statvfs vfs {};
  if (statvfs(native.empty() ? "/" : native.c_str(), &vfs) != 0) return std::nullopt;
  return DiskSpace{std::uint64_t{vfs.f_bavail} * vfs.f_frsize,
                   std::uint64_t{vfs.f_blocks} * vfs.f_frsize};
}

bool IsWriteProtected(std::string_view root) {
  {
    std::lock_guard lock(drivesMutex);
    if (injectedDrives) {
      const auto d = InjectedDrive(root, true);
      return d && d->writeProtected;
    }
  }
  const std::string native = ToNativePath(root);
  struct statvfs vfs {};
  return statvfs(native.empty() ? "/" : native.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
}

std::optional<VolumeInformation> GetVolumeInformation(std::string_view root, std::string& whyNot) {
  {
    std::lock_guard lock(drivesMutex);
    if (injectedDrives) {
      const auto d = InjectedDrive(root, true);
      if (d && d->volume) return d->volume;
      whyNot = std::strerror(ENOENT);
      return std::nullopt;
    }
  }
  const std::string native = ToNativePath(root);
  struct statvfs vfs {};
  if (statvfs(native.empty() ? "/" : native.c_str(), &vfs) != 0) {
    whyNot = std::strerror(errno);
    return std::nullopt;
  }
  VolumeInformation info;
  info.maxComponentLength = static_cast<std::uint32_t>(vfs.f_namemax);
  if (const auto m = MountAt(root)) {
    info.fileSystemName = m->type;
    if (m->source.starts_with("/dev/")) {
      info.label = LinkNameFor("/dev/disk/by-label", m->source);
      info.serialNumber = SerialFromUuid(LinkNameFor("/dev/disk/by-uuid", m->source));
    }
    // The FAT family keeps the case of names but finds them whatever their case.
    if (OneOf(m->type, {"vfat", "exfat", "ntfs", "ntfs3", "fuseblk"}))
      info.fileSystemFlags = kCasePreservedNames;
    else if (m->type != "msdos")
      info.fileSystemFlags = kCaseSensitiveSearch | kCasePreservedNames;
  }
  if (vfs.f_flag & ST_RDONLY) info.fileSystemFlags |= kReadOnlyVolume;
  return info;
}

DriveType GetDriveType(std::string_view root) {
  {
    std::lock_guard lock(drivesMutex);
    if (injectedDrives) {
      const auto d = InjectedDrive(root, true);
      return d ? d->type : DriveType::NoRootDir;
    }
  }
  const auto m = MountAt(root);
  if (!m) return DriveType::NoRootDir;
  if (OneOf(m->type, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "fuse.sshfs"}))
    return DriveType::Remote;
  if (OneOf(m->type, {"iso9660", "udf"})) return DriveType::CdRom;
  if (OneOf(m->type, {"tmpfs", "ramfs"})) return DriveType::RamDisk;
  if (m->source.starts_with("/dev/"))
    return OnRemovableDisk(m->source) ? DriveType::Removable : DriveType::Fixed;
  return DriveType::Fixed;
}

}  // namespace quern::platform
