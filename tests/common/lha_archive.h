// Reads the entries of the LHA archives a real archiver makes for the tests, so that their
// packed data can be decoded alone or carried into other archives. Level-2 headers only (what
// `jlha a2...` writes); fixtures, not a reader for hostile input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quern::test {

struct LhaEntry {
  std::string method;  // "-lh5-" etc.
  std::string name;
  std::uint32_t unpackedSize = 0;
  std::vector<std::uint8_t> packed;
};

std::vector<LhaEntry> ReadLevel2Lha(const std::filesystem::path& archive);

}  // namespace quern::test
