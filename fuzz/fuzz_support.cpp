#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <fstream>

namespace quern::fuzz {

const std::filesystem::path& Scratch() {
  static const std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quern-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    return std::filesystem::path(pattern);
  }();
  return dir;
}

void ResetScratch() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Scratch(), ec)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(entry.path(), ec);
  }
}

std::string WriteInput(const std::uint8_t* data, std::size_t size, const char* name) {
  const auto path = Scratch() / name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::string engine = path.string();
  for (char& c : engine)
    if (c == '/') c = '\\';
  return engine;
}

}  // namespace quern::fuzz
