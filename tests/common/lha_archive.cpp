#include "common/lha_archive.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quern::test {

namespace {

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i)
    v = v << 8 | b.at(at + static_cast<std::size_t>(i));
  return v;
}

}  // namespace

std::vector<LhaEntry> ReadLevel2Lha(const std::filesystem::path& archive) {
  std::ifstream in(archive, std::ios::binary);
  const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
  std::vector<LhaEntry> entries;
  // Each header: total header size (2), method (5), packed size (4), original size (4), time
  // (4), reserved (1), level (1), CRC-16 (2), OS (1), then extended headers to the total size.
  for (std::size_t at = 0; at + 26 <= b.size() && Le(b, at, 2) != 0;) {
    if (b[at + 20] != 2) throw std::runtime_error("not a level-2 LHA header");
    const std::size_t headerSize = Le(b, at, 2);
    LhaEntry e;
    e.method.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 2),
                    b.begin() + static_cast<std::ptrdiff_t>(at + 7));
    const std::uint32_t packedSize = Le(b, at + 7, 4);
    e.unpackedSize = Le(b, at + 11, 4);
    // Extended headers: their size (counting the size field itself), type, data. Type 1 is the
    // file name.
    for (std::size_t x = at + 24; x + 3 <= at + headerSize;) {
      const std::size_t size = Le(b, x, 2);
      if (size < 3) break;
      if (b[x + 2] == 1)
        e.name.assign(b.begin() + static_cast<std::ptrdiff_t>(x + 3),
                      b.begin() + static_cast<std::ptrdiff_t>(x + size));
      x += size;
    }
    const std::size_t data = at + headerSize;
    e.packed.assign(b.begin() + static_cast<std::ptrdiff_t>(data),
                    b.begin() + static_cast<std::ptrdiff_t>(data + packedSize));
    entries.push_back(std::move(e));
    at = data + packedSize;
  }
  return entries;
}

}  // namespace quern::test
