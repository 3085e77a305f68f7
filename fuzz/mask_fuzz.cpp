// Mask compilation, matching and entry selection over arbitrary masks and names.
#include <string>
#include <vector>

#include "engine/support/mask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\n');
  if (split == std::string::npos) return 0;
  const std::string mask = input.substr(0, split);
  const std::string name = input.substr(split + 1);
  quern::MatchesMask(name, mask);
  std::vector<std::string> fileSpec{mask, "*.*"};
  const std::vector<std::string> exclude{mask};
  quern::SpecListSelects(name, fileSpec, true, &exclude, nullptr);
  quern::SpecListSelects(name, fileSpec, false, nullptr, nullptr);
  return 0;
}
