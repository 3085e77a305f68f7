#include "engine/crypt/cipher.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/extraction.h"
#include "common/run_command.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

std::uint32_t Le(const Bytes& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i)
    v = v << 8 | b[at + static_cast<std::size_t>(i)];
  return v;
}

// The one entry of a ZIP archive made by a real archiver, as a BH version-3 entry: the same
// enciphered bytes (12-byte header and data), method, CRC, sizes, date and check-byte rule.
BhEntry BhEntryFromZip(const Bytes& zip, const std::string& name) {
  // The central directory has the sizes and CRC even when the local header defers them.
  std::size_t end = zip.size() - 22;
  while (Le(zip, end, 4) != 0x06054B50)
    --end;
  const std::size_t central = Le(zip, end + 16, 4);
  EXPECT_EQ(Le(zip, central, 4), 0x02014B50u);
  const std::uint32_t flags = Le(zip, central + 8, 2);
  const std::uint32_t method = Le(zip, central + 10, 2);
  const std::uint32_t dosTime = Le(zip, central + 12, 2);
  const std::uint32_t dosDate = Le(zip, central + 14, 2);
  const std::uint32_t crc = Le(zip, central + 16, 4);
  const std::uint32_t packedSize = Le(zip, central + 20, 4);
  const std::uint32_t unpackedSize = Le(zip, central + 24, 4);
  const std::size_t local = Le(zip, central + 42, 4);
  const std::size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
  EXPECT_TRUE(flags & 0x01) << "the archiver did not encrypt";

  BhEntry e;
  e.name = name;
  e.method = static_cast<std::uint8_t>(method);
  e.version = 3;
  e.flags = static_cast<std::uint8_t>(0x01 | (flags & 0x08));
  e.dosDateTime = dosDate << 16 | dosTime;
  e.crc = crc;
  e.unpackedSize = unpackedSize;
  e.packed = Bytes(zip.begin() + static_cast<std::ptrdiff_t>(data),
                   zip.begin() + static_cast<std::ptrdiff_t>(data + packedSize));
  return e;
}

Bytes ZipOneFile(const ScratchDir& dir, const std::string& file, const Bytes& content,
                 const std::string& password, const char* level) {
  WriteFileBytes(dir / file, content);
  const std::string zip = file + ".zip";
  const CommandResult r = RunCommand({"/usr/bin/zip", "-q", "-X", level, "-P", password, zip, file},
                                     dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadFileBytes(dir / zip);
}

struct ZipCase {
  const char* name;
  const char* level;  // -0 stores, -1/-6/-9 deflate
  std::string password;
  std::size_t size;
};

class CipherAgainstZip : public ::testing::TestWithParam<ZipCase> {};

TEST_P(CipherAgainstZip, EntriesEncryptedByARealArchiverExtractWithTheirPassword) {
  const ZipCase& c = GetParam();
  ScratchDir work;
  Bytes content = PatternBytes(c.size, 11);
  for (std::size_t i = 0; i < content.size(); i += 3)
    content[i] = 'a';  // something to deflate
  const BhEntry entry =
      BhEntryFromZip(ZipOneFile(work, "f.bin", content, c.password, c.level), "f.bin");
  Extraction x(BuildBhArchive({entry, BhEntry::Stored("after.txt", Bytes{'k'})}));
  x.unbh.SetPasswords({c.password});
  x.unbh.OnError = x.log.Error();
  EXPECT_EQ(x.unbh.Extract(), 2);
  EXPECT_TRUE(x.log.lines.empty()) << x.log.lines.front();
  EXPECT_EQ(ReadFileBytes(x.Out("f.bin")), content);
}

INSTANTIATE_TEST_SUITE_P(Zip, CipherAgainstZip,
                         ::testing::Values(ZipCase{"Stored", "-0", "secret", 5000},
                                           ZipCase{"Deflated", "-9", "secret", 100000},
                                           ZipCase{"DeflatedFast", "-1", "p", 40000},
                                           ZipCase{"Password300Bytes", "-6",
                                                   std::string(300, 'k') + "!", 70000},
                                           ZipCase{"EmptyFile", "-0", "secret", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CipherAgainstZip, WrongPasswordWhoseCheckByteFitsTheOtherFieldIsRefused) {
  ScratchDir work;
  const BhEntry entry =
      BhEntryFromZip(ZipOneFile(work, "f.bin", PatternBytes(1000, 5), "right", "-0"), "f.bin");
  ASSERT_TRUE(entry.flags & 0x08) << "needs an entry checked against its time";
  const std::uint8_t byCrc = static_cast<std::uint8_t>(*entry.crc >> 24);
  const std::uint8_t byTime = static_cast<std::uint8_t>(entry.dosDateTime >> 8);
  ASSERT_NE(byCrc, byTime);

  // A wrong password whose twelfth deciphered byte is the CRC's high byte.
  std::string wrong;
  for (int i = 0; wrong.empty(); ++i) {
    TTraditionalCipher cipher;
    cipher.InitKeys("w" + std::to_string(i));
    Bytes header(entry.packed->begin(), entry.packed->begin() + 12);
    cipher.DecodeBuffer(header.data(), header.size());
    if (header[11] == byCrc) wrong = "w" + std::to_string(i);
  }
  Extraction x(BuildBhArchive({entry}));
  x.unbh.SetPasswords({wrong});
  x.unbh.OnEnd = x.log.End();
  EXPECT_EQ(x.unbh.Extract(), 0);
  EXPECT_EQ(x.log.lines, std::vector<std::string>{"End f.bin fail"});
}

// Entries of version 2 keep the old rules: the header is checked, stored data are plain and
// compressed data start from fresh keys.
TEST(CipherOldVersion, StoredAndDeflatedEntriesExtract) {
  const Bytes content = PatternBytes(50000, 8);
  BhEntry stored = BhEntry::Stored("stored.bin", content);
  BhEntry deflated = BhEntry::Stored("deflated.bin", content);
  deflated.method = 8;
  deflated.packed = RawDeflate(content, 6);
  for (BhEntry* e : {&stored, &deflated}) {
    e->version = 2;
    e->password = "old";
  }
  Extraction x(BuildBhArchive({stored, deflated}));
  x.unbh.SetPasswords({"old"});
  x.unbh.OnError = x.log.Error();
  EXPECT_EQ(x.unbh.Extract(), 2);
  EXPECT_TRUE(x.log.lines.empty()) << x.log.lines.front();
  EXPECT_EQ(ReadFileBytes(x.Out("stored.bin")), content);
  EXPECT_EQ(ReadFileBytes(x.Out("deflated.bin")), content);
}

TEST(Cipher, EncodeAndDecodeAreInverseFromTheSameKeys) {
  const Bytes plain = PatternBytes(1000, 2);
  Bytes data = plain;
  TTraditionalCipher a, b;
  a.InitKeys("key");
  b.InitKeys("key");
  a.EncodeBuffer(data.data(), data.size());
  EXPECT_NE(data, plain);
  b.DecodeBuffer(data.data(), 7);  // in pieces: the key state runs on
  b.DecodeBuffer(data.data() + 7, data.size() - 7);
  EXPECT_EQ(data, plain);
}

}  // namespace
}  // namespace quern::test
