#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "common/fixtures.h"
#include "common/run_command.h"
#include "common/scratch_dir.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

// A small publisher's tree: nested directories, an empty directory, text, a larger binary
// file, an empty file and a read-only file, with dates a DOS archive can hold exactly (even
// seconds).
void MakeTree(const fs::path& root) {
  WriteFileBytes(root / "index.html", Bytes{'<', 'h', '1', '>'});
  WriteFileBytes(root / "bab1" / "pengantar.txt", PatternBytes(1000, 1));
  WriteFileBytes(root / "media" / "gambar.dat", PatternBytes(300000, 2));
  WriteFileBytes(root / "kosong.txt", Bytes{});
  WriteFileBytes(root / "baca.txt", Bytes{'r', 'o'});
  fs::create_directories(root / "catatan");
  fs::permissions(root / "baca.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  int i = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    struct utimbuf times {};
    times.modtime = 1600000000 + 86400 * 7 * (++i);  // even seconds
    times.actime = times.modtime;
    utime(e.path().c_str(), &times);
  }
}

// Each file below `a` equals the one below `b`: bytes, modification time and write permission.
void ExpectSameTree(const fs::path& a, const fs::path& b) {
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(a)) {
    const fs::path rel = fs::relative(e.path(), a);
    SCOPED_TRACE(rel.string());
    ASSERT_TRUE(fs::exists(b / rel));
    if (e.is_directory()) {
      EXPECT_TRUE(fs::is_directory(b / rel));
      continue;
    }
    ++files;
    EXPECT_EQ(ReadFileBytes(b / rel), ReadFileBytes(e.path()));
    EXPECT_EQ(ModificationTime(b / rel), ModificationTime(e.path()));
    const auto writable = [](const fs::path& p) {
      return (fs::status(p).permissions() & fs::perms::owner_write) != fs::perms::none;
    };
    EXPECT_EQ(writable(b / rel), writable(e.path()));
  }
  EXPECT_EQ(files, 5u);
}

struct RoundTrip {
  const char* name;
  const char* method;
  const char* password;  // empty: not encrypted
};

class QuernArchiver : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(QuernArchiver, RoundTripsThroughExtractionByteIdentical) {
  const RoundTrip& c = GetParam();
  ScratchDir dir;
  MakeTree(dir / "src");
  std::vector<std::string> add = {QuernPath(), "a", "../m.nsz", "-m", c.method};
  if (*c.password) add.insert(add.end(), {"-p", c.password});
  add.push_back(".");
  const CommandResult a = RunCommand(add, (dir / "src").string());
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(RunCommand({QuernPath(), "id", "m.nsz"}, dir.path().string()).out, "atBh 0 m.nsz\n");

  std::vector<std::string> extract = {QuernPath(), "x", "m.nsz", "-d", "out"};
  if (*c.password) extract.insert(extract.end(), {"-p", c.password});
  const CommandResult x = RunCommand(extract, dir.path().string());
  EXPECT_EQ(x.status, 0) << x.err;
  ExpectSameTree(dir / "src", dir / "out");
  EXPECT_TRUE(fs::is_directory(dir / "out" / "catatan"));

  if (*c.password) {
    const CommandResult wrong =
        RunCommand({QuernPath(), "x", "m.nsz", "-d", "wrong", "-p", "not-it"}, dir.path().string());
    EXPECT_EQ(wrong.status, 1);
    EXPECT_FALSE(fs::exists(dir / "wrong" / "media" / "gambar.dat"));
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, QuernArchiver,
                         ::testing::Values(RoundTrip{"Stored", "store", ""},
                                           RoundTrip{"Deflated", "deflate", ""},
                                           RoundTrip{"StoredEncrypted", "store", "kunci"},
                                           RoundTrip{"DeflatedEncrypted", "deflate", "kunci"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::test
