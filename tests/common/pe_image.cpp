#include "common/pe_image.h"

#include <algorithm>
#include <vector>

namespace quern::test {
namespace {

constexpr std::size_t kPeAt = 0x80;
constexpr std::size_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionRva = 0x1000;

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::size_t Align(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

}  // namespace

PeImage BuildPeImage(const std::map<std::uint16_t, std::u16string>& strings, bool pe32Plus) {
  // Strings go in blocks of sixteen: block n + 1 holds the ids 16 n to 16 n + 15.
  std::map<std::uint16_t, std::map<std::uint16_t, std::u16string>> blocks;
  for (const auto& [id, text] : strings)
    blocks[static_cast<std::uint16_t>(id / 16 + 1)][static_cast<std::uint16_t>(id % 16)] = text;

  // The resource section: root, string-type directory, one language directory per block, the
  // data entries, then the blocks.
  Bytes rsrc;
  auto grow = [&rsrc](std::size_t n) {
    const std::size_t at = rsrc.size();
    rsrc.resize(at + n, 0);
    return at;
  };
  const std::size_t root = grow(16 + 8);
  const std::size_t typeDir = grow(16 + 8 * blocks.size());
  std::vector<std::size_t> languageDirs, dataEntries;
  for (std::size_t i = 0; i < blocks.size(); ++i)
    languageDirs.push_back(grow(16 + 8));
  for (std::size_t i = 0; i < blocks.size(); ++i)
    dataEntries.push_back(grow(16));

  Put16(rsrc, root + 14, 1);
  Put32(rsrc, root + 16, 6);
  Put32(rsrc, root + 20, 0x8000'0000u | static_cast<std::uint32_t>(typeDir));
  Put16(rsrc, typeDir + 14, static_cast<std::uint16_t>(blocks.size()));
  std::size_t i = 0;
  std::vector<std::size_t> blockAt;
  for (const auto& [blockId, texts] : blocks) {
    Put32(rsrc, typeDir + 16 + 8 * i, blockId);
    Put32(rsrc, typeDir + 20 + 8 * i, 0x8000'0000u | static_cast<std::uint32_t>(languageDirs[i]));
    Put16(rsrc, languageDirs[i] + 14, 1);
    Put32(rsrc, languageDirs[i] + 16, 0x409);
    Put32(rsrc, languageDirs[i] + 20, static_cast<std::uint32_t>(dataEntries[i]));

    Bytes block;
    for (std::uint16_t index = 0; index < 16; ++index) {
      const auto it = texts.find(index);
      const std::u16string text = it == texts.end() ? u"" : it->second;
      block.push_back(static_cast<std::uint8_t>(text.size()));
      block.push_back(static_cast<std::uint8_t>(text.size() >> 8));
      for (char16_t c : text) {
        block.push_back(static_cast<std::uint8_t>(c));
        block.push_back(static_cast<std::uint8_t>(c >> 8));
      }
    }
    const std::size_t at = grow(Align(block.size(), 4));
    std::copy(block.begin(), block.end(), rsrc.begin() + static_cast<std::ptrdiff_t>(at));
    Put32(rsrc, dataEntries[i], kSectionRva + static_cast<std::uint32_t>(at));
    Put32(rsrc, dataEntries[i] + 4, static_cast<std::uint32_t>(block.size()));
    blockAt.push_back(at);
    ++i;
  }

  PeImage image;
  const std::size_t optionalSize = pe32Plus ? 240 : 224;
  image.coffAt = kPeAt + 4;
  image.optionalAt = image.coffAt + 20;
  image.sectionTableAt = image.optionalAt + optionalSize;
  const std::size_t rawSize = Align(rsrc.size(), kFileAlignment);
  Bytes& b = image.bytes;
  b.assign(kFileAlignment + rawSize, 0);

  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPeAt);
  b[kPeAt] = 'P';
  b[kPeAt + 1] = 'E';
  Put16(b, image.coffAt, pe32Plus ? 0x8664 : 0x014C);
  Put16(b, image.coffAt + 2, 1);
  Put16(b, image.coffAt + 16, static_cast<std::uint16_t>(optionalSize));
  Put16(b, image.coffAt + 18, 0x0102);  // executable, 32-bit words

  const std::size_t o = image.optionalAt;
  Put16(b, o, pe32Plus ? 0x20B : 0x10B);
  if (pe32Plus)
    Put32(b, o + 24, 0x40'0000);  // low half of the 64-bit image base
  else
    Put32(b, o + 28, 0x40'0000);
  Put32(b, o + 32, 0x1000);  // section alignment
  Put32(b, o + 36, kFileAlignment);
  Put16(b, o + 40, 4);  // operating-system and subsystem versions
  Put16(b, o + 48, 4);
  Put32(b, o + 56, kSectionRva + static_cast<std::uint32_t>(Align(rsrc.size(), 0x1000)));
  Put32(b, o + 60, kFileAlignment);  // size of headers
  Put16(b, o + 68, 2);               // a windowed program
  const std::size_t directories = o + (pe32Plus ? 112 : 96);
  Put32(b, directories - 4, 16);
  image.resourceDirectoryAt = directories + 16;
  Put32(b, image.resourceDirectoryAt, kSectionRva);
  Put32(b, image.resourceDirectoryAt + 4, static_cast<std::uint32_t>(rsrc.size()));

  const std::size_t s = image.sectionTableAt;
  std::copy_n(".rsrc", 5, b.begin() + static_cast<std::ptrdiff_t>(s));
  Put32(b, s + 8, static_cast<std::uint32_t>(rsrc.size()));
  Put32(b, s + 12, kSectionRva);
  Put32(b, s + 16, static_cast<std::uint32_t>(rawSize));
  Put32(b, s + 20, kFileAlignment);
  Put32(b, s + 36, 0x4000'0040);  // initialised data, readable

  std::copy(rsrc.begin(), rsrc.end(), b.begin() + kFileAlignment);
  image.rootAt = kFileAlignment + root;
  image.stringTypeAt = kFileAlignment + typeDir;
  if (!blocks.empty()) {
    image.firstLanguageAt = kFileAlignment + languageDirs[0];
    image.firstDataEntryAt = kFileAlignment + dataEntries[0];
    image.firstBlockAt = kFileAlignment + blockAt[0];
  }
  return image;
}

}  // namespace quern::test
