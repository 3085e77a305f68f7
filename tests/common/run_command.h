// Runs a program and collects what it printed and how it ended.
#pragma once

#include <string>
#include <vector>

namespace quern::test {

struct CommandResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] is the program path) in `workingDir` (empty: the current one).
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& workingDir = {});

// The quern tool built with the tests.
inline const char* QuernPath() {
  return QUERN_CLI_PATH;
}

}  // namespace quern::test
