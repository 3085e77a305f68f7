#include "common/run_command.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace quern::test {

namespace {

std::string Slurp(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, n);
  return text;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& workingDir) {
  // Output goes to temporary files, so that neither pipe can fill while we wait for the other.
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) throw std::runtime_error("tmpfile failed");

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);

  CommandResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  lseek(fileno(out), 0, SEEK_SET);
  lseek(fileno(err), 0, SEEK_SET);
  result.out = Slurp(fileno(out));
  result.err = Slurp(fileno(err));
  std::fclose(out);
  std::fclose(err);
  return result;
}

}  // namespace quern::test
