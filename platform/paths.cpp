// Path translation between the engine's form and the system's, absolute paths, the current
// directory and the user's private temporary directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quern::platform {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool HasDrive(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') return false;
  char c = path[0];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The system's $TMPDIR, or /tmp when it is unset or empty, as an absolute native path.
std::string TempBase() {
  const char* env = std::getenv("TMPDIR");
  std::string base = (env != nullptr && *env != '\0') ? env : "/tmp";
  return ToNativePath(FullPath(FromNativePath(base)));
}

}  // namespace

std::string ToNativePath(std::string_view enginePath) {
  if (HasDrive(enginePath)) enginePath.remove_prefix(2);
  std::string native(enginePath);
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

std::string FromNativePath(std::string_view nativePath) {
  std::string engine(nativePath);
  for (char& c : engine)
    if (c == '/') c = '\\';
  return engine;
}

std::string CurrentDirectory() {
  std::string buffer(256, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return FromNativePath(buffer);
}

std::string FullPath(std::string_view path) {
  // A drive names nothing on this system: "C:\x" is "\x" and "C:x" is relative.
  if (HasDrive(path)) path.remove_prefix(2);

  std::string combined;
  if (path.empty() || !IsSeparator(path.front())) {
    combined = CurrentDirectory();
    combined += '\\';
  }
  combined += path;

  std::vector<std::string_view> parts;
  std::string_view rest(combined);
  while (!rest.empty()) {
    size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end]))
      ++end;
    std::string_view part = rest.substr(0, end);
    rest.remove_prefix(end < rest.size() ? end + 1 : end);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // The parent of the root is the root.
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }

  std::string full;
  for (std::string_view part : parts) {
    full += '\\';
    full += part;
  }
  if (full.empty() || (!path.empty() && IsSeparator(path.back()))) full += '\\';
  return full;
}

std::string TempDirectoryIn(std::string_view base) {
  std::string native = ToNativePath(base);
  while (!native.empty() && native.back() == '/')
    native.pop_back();
  const std::string shared = native + "/tarsel-" + std::to_string(getuid());

  // A name in a world-writable directory may have been planted by someone else: use it only
  // when it is ours and nobody else can look inside.
  mkdir(shared.c_str(), 0700);
  struct stat st {};
  if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
      (st.st_mode & 077) == 0)
    return FromNativePath(shared) + "\\";

  std::string fresh = shared + "-XXXXXX";
  if (mkdtemp(fresh.data()) == nullptr) return {};
  return FromNativePath(fresh) + "\\";
}

std::string TempDirectory() {
  static std::mutex mutex;
  static std::string chosen;
  std::lock_guard lock(mutex);
  // Chosen once, so that a fresh private directory is not made again on every call.
  if (chosen.empty()) chosen = TempDirectoryIn(FromNativePath(TempBase()));
  return chosen;
}

}  // namespace quern::platform
