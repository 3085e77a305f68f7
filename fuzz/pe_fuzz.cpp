// The program-file string reader over any bytes: it may find strings or not, but it must never
// ask for a byte outside the file, whatever its headers and directories claim.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto source = [data, size](std::uint64_t offset, void* buffer, std::size_t count) {
    // The reader checks every range against the file before it reads.
    if (offset > size || count > size - offset) std::abort();
    std::memcpy(buffer, data + offset, count);
    return count;
  };
  const auto strings = quern::platform::ProgramStrings::Open(source, size);
  if (!strings) return 0;
  for (std::uint16_t id = 0; id <= 40; ++id)
    strings->Load(id, id % 2 == 0 ? 5 : 4096);
  if (size >= 2) strings->Load(static_cast<std::uint16_t>(data[size - 2] | data[size - 1] << 8), 8);
  return 0;
}
