// A fresh directory for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quern::test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory in the engine's form ("\" separators), ending in "\".
  std::string EnginePath() const;
  // A path below the directory, native and in engine form.
  std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }
  std::string EnginePath(std::string_view relative) const;

 private:
  std::filesystem::path path_;
};

// Whole-file helpers for fixtures and checks.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// The engine form of a native path: "/" becomes "\".
std::string ToEnginePath(const std::filesystem::path& path);

}  // namespace quern::test
