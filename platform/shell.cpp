#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace quern::platform {

namespace {

enum class Kind { Missing, Native, Script, Other };

Kind KindOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Kind::Missing;
  struct stat st {};
  std::array<char, 4> head{};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const ssize_t n = regular ? read(fd, head.data(), head.size()) : 0;
  close(fd);
  if (!regular) return Kind::Missing;
  if (n == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F')
    return Kind::Native;
  if (n >= 2 && head[0] == '#' && head[1] == '!') return Kind::Script;
  return Kind::Other;
}

// Runs argv in a grandchild that belongs to no one: the caller neither waits for it nor
// collects it later.
bool SpawnDetached(const std::string& program, const std::string& argument) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild > 0 ? 0 : 1);
    signal(SIGPIPE, SIG_DFL);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (argument.empty())
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    else
      execlp(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool ShellOpen(std::string_view file) {
  std::string path = ToNativePath(file);
  // A bare name is looked up in the current directory, as the desktop does, never on $PATH.
  if (path.find('/') == std::string::npos) path = "./" + path;
  switch (KindOf(path)) {
    case Kind::Missing:
      return false;
    case Kind::Native:
    case Kind::Script: {
      struct stat st {};
      if (stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IXUSR))
        chmod(path.c_str(), st.st_mode | S_IXUSR);
      return SpawnDetached(path, {});
    }
    case Kind::Other:
      return SpawnDetached("xdg-open", path);
  }
  return false;
}

}  // namespace quern::platform
