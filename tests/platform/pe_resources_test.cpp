// The string resources of a program file, read as data: good images and images broken on the
// way to a string, none of which may be read outside the file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "common/pe_image.h"
#include "platform/platform.h"

namespace quern::platform {
namespace {

using test::BuildPeImage;
using test::Bytes;
using test::PeImage;

// A source over the bytes that fails the test if anything is asked for outside them.
ByteSource SourceOver(const Bytes& bytes) {
  return [&bytes](std::uint64_t offset, void* buffer, std::size_t count) -> std::size_t {
    EXPECT_LE(offset, bytes.size());
    if (offset >= bytes.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(count, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, n);
    return n;
  };
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

PeImage Sample() {
  return BuildPeImage({{1, u"20480"}, {2, u"7"}, {5, u"\u00E9t\u00E9"}, {40, u"forty"}});
}

TEST(ProgramStrings, ReadsStringsOfEveryBlock) {
  for (bool pe32Plus : {false, true}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    const Bytes bytes =
        BuildPeImage({{1, u"20480"}, {2, u"7"}, {5, u"\u00E9t\u00E9"}, {40, u"forty"}}, pe32Plus)
            .bytes;
    const auto strings = ProgramStrings::Open(SourceOver(bytes), bytes.size());
    ASSERT_TRUE(strings);
    EXPECT_EQ(strings->Load(1, 5), "20480");
    EXPECT_EQ(strings->Load(2, 5), "7");
    EXPECT_EQ(strings->Load(3, 5), "");  // an empty slot of the block
    EXPECT_EQ(strings->Load(5, 5), "\u00E9t\u00E9");
    EXPECT_EQ(strings->Load(40, 5), "forty");
    EXPECT_EQ(strings->Load(40, 2), "fo");
    EXPECT_EQ(strings->Load(17, 5), "");  // a block the image does not have
  }
}

TEST(ProgramStrings, UnpairedSurrogateBecomesQuestionMark) {
  const Bytes bytes = BuildPeImage({{1, std::u16string{u'1', char16_t{0xD800}, u'2'}}}).bytes;
  const auto strings = ProgramStrings::Open(SourceOver(bytes), bytes.size());
  ASSERT_TRUE(strings);
  EXPECT_EQ(strings->Load(1, 5), "1?2");
}

// What a broken image still gives: no image at all, or an image whose string 1 is missing.
enum class Outcome { NoImage, StringMissing };

struct BrokenCase {
  const char* name;
  std::function<void(PeImage&)> breakIt;
  Outcome outcome;
};

std::vector<BrokenCase> BrokenCases() {
  return {
      {"NoDosSignature", [](PeImage& i) { i.bytes[0] = 'X'; }, Outcome::NoImage},
      {"PeHeaderPastEnd", [](PeImage& i) { Put32(i.bytes, 0x3C, 0xFFFF'FFF0u); }, Outcome::NoImage},
      {"NoPeSignature", [](PeImage& i) { i.bytes[i.coffAt - 4] = 'N'; }, Outcome::NoImage},
      {"DosProgramOnly", [](PeImage& i) { i.bytes.resize(0x80); }, Outcome::NoImage},
      {"CutInsideOptionalHeader", [](PeImage& i) { i.bytes.resize(i.optionalAt + 50); },
       Outcome::NoImage},
      {"UnknownOptionalHeaderMagic", [](PeImage& i) { Put16(i.bytes, i.optionalAt, 0x107); },
       Outcome::NoImage},
      {"OptionalHeaderTooShortForResources", [](PeImage& i) { Put16(i.bytes, i.coffAt + 16, 100); },
       Outcome::NoImage},
      {"ResourceDirectoryNotCounted",
       [](PeImage& i) { Put32(i.bytes, i.resourceDirectoryAt - 16 - 4, 2); }, Outcome::NoImage},
      {"TooManySections", [](PeImage& i) { Put16(i.bytes, i.coffAt + 2, 97); }, Outcome::NoImage},
      {"SectionTablePastEnd", [](PeImage& i) { Put16(i.bytes, i.coffAt + 2, 96); },
       Outcome::NoImage},
      {"NoResourceDirectory", [](PeImage& i) { Put32(i.bytes, i.resourceDirectoryAt + 4, 0); },
       Outcome::NoImage},
      {"ResourcesOutsideEverySection",
       [](PeImage& i) { Put32(i.bytes, i.resourceDirectoryAt, 0x9000); }, Outcome::NoImage},
      {"SectionRawDataPastEnd",
       [](PeImage& i) { Put32(i.bytes, i.sectionTableAt + 20, 0x7FFF'FF00u); }, Outcome::NoImage},
      {"TypeEntryIsNoDirectory", [](PeImage& i) { Put32(i.bytes, i.rootAt + 20, 0x18); },
       Outcome::StringMissing},
      {"TypeDirectoryOutsideResources",
       [](PeImage& i) { Put32(i.bytes, i.rootAt + 20, 0x8000'0000u | 0x7FFF'0000u); },
       Outcome::StringMissing},
      {"EntryCountBeyondDirectory", [](PeImage& i) { Put16(i.bytes, i.stringTypeAt + 14, 0xFFFF); },
       Outcome::StringMissing},
      {"NamedEntriesPushIdsOut", [](PeImage& i) { Put16(i.bytes, i.stringTypeAt + 12, 0xFFFF); },
       Outcome::StringMissing},
      {"LanguageEntryIsADirectory",
       [](PeImage& i) {
         Put32(i.bytes, i.firstLanguageAt + 20, 0x8000'0000u | static_cast<std::uint32_t>(0));
       },
       Outcome::StringMissing},
      {"EmptyLanguageDirectory", [](PeImage& i) { Put16(i.bytes, i.firstLanguageAt + 14, 0); },
       Outcome::StringMissing},
      {"DataEntryOutsideResources",
       [](PeImage& i) { Put32(i.bytes, i.firstLanguageAt + 20, 0xFFFF'FFF8u & 0x7FFF'FFFFu); },
       Outcome::StringMissing},
      {"BlockOutsideTheFile", [](PeImage& i) { Put32(i.bytes, i.firstDataEntryAt, 0xFFFF'FF00u); },
       Outcome::StringMissing},
      {"BlockSizeBeyondItsSection",
       [](PeImage& i) { Put32(i.bytes, i.firstDataEntryAt + 4, 0x10'0000); },
       Outcome::StringMissing},
      {"StringLongerThanItsBlock",
       [](PeImage& i) { Put32(i.bytes, i.firstDataEntryAt + 4, 4 + 2 * 3); },
       Outcome::StringMissing},
      {"StringLengthPastBlockEnd", [](PeImage& i) { Put16(i.bytes, i.firstBlockAt + 2, 0xFFFF); },
       Outcome::StringMissing},
  };
}

void PrintTo(const BrokenCase& c, std::ostream* os) {
  *os << c.name;
}

class BrokenImage : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenImage, IsRefusedWithoutReadingOutside) {
  const BrokenCase& c = GetParam();
  PeImage image = Sample();
  c.breakIt(image);
  const auto strings = ProgramStrings::Open(SourceOver(image.bytes), image.bytes.size());
  if (c.outcome == Outcome::NoImage) {
    EXPECT_FALSE(strings);
    return;
  }
  ASSERT_TRUE(strings);
  EXPECT_EQ(strings->Load(1, 5), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenImage, ::testing::ValuesIn(BrokenCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::platform
