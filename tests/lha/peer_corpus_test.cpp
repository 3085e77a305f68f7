// Every archive of a peer project's LHA test corpus (made by many archivers on many systems)
// through `quern x`, against what the peer unpacker (lhasa) makes of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_command.h"
#include "common/scratch_dir.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(QUERN_SOURCE_DIR) / "../shared/corpus/lha-peer/archives";

enum class Tree {
  SameAsPeer,   // the peer's files and directories with the same bytes
  Empty,        // nothing extracted at all
  MacBinary,    // each file as stored, wrapped for the Mac: 128 bytes, the peer's file, padding
  PeerAndMore,  // the peer's tree and the `names`, which the installed peer misses
  Exactly,      // the `names` (their CRCs checked), not what the peer finds
  NotCompared,  // the peer fails on it too; only quern's reports are checked
};

struct Expectation {
  const char* archives;  // a pattern over the path below the corpus
  Tree tree;
  int status;              // quern's exit status
  std::vector<int> codes;  // the codes quern reports, in order
  std::vector<std::string> names = {};
};

// Everything not named here extracts cleanly with both and gives the same tree.
const std::vector<Expectation> kExceptions = {
    // Level-3 headers are not read: their first byte, the size below 22, is a bad header.
    {"lha_os2_208/h3_.*", Tree::Empty, 1, {25114}},
    // Other archivers' methods whose letter is one of ours are decoded as ours and fail their
    // CRC: LArc's -lz4- (stored) and -lz5-. A foreign stream ends short, which fails even where
    // the file's CRC-16 is that of zeros.
    {"larc333/(initial|long|lz4|lz5|subdir)\\.lzs", Tree::NotCompared, 1, {25151}},
    {"lharc_atari_313a/(h1_|h2_|)lz5\\.lzh", Tree::NotCompared, 1, {25151}},
    {"lengths/lz5-(1|64k|1m)\\.lzs", Tree::NotCompared, 1, {25151}},
    // Methods whose letter is none of ours are not listed: -lzs-, -lhx-.
    {"generated/lzs/.*", Tree::Empty, 0, {}},
    {"unlha32/(h2_lhx|lhx_long)\\.lzh", Tree::Empty, 0, {}},
    // -lh2- and -lh3- are listed and refused; the file stays empty.
    {"unlha32/lh[23]\\.lzh", Tree::NotCompared, 1, {25326, 25151}},
    // Data no standard decoder reads (LHARK's own -lh7-), and data cut short.
    {"lhark04d/lh7(_long)?\\.lzh", Tree::NotCompared, 1, {25151}},
    {"regression/truncated\\.lzh", Tree::NotCompared, 1, {25151}},
    // Not LHA archives to identification: PMarc and LArc self-extractors, and 16-bit
    // self-extractors whose archive lies before the point where the search in a program begins.
    {"(pmarc124|pmarc2|generated/pm1)/.*", Tree::Empty, 2, {25244}},
    {"larc333/sfx\\.com", Tree::Empty, 2, {25244}},
    {"lhmelt_16536/sfx_winsfxm?_(213|250)\\.exe", Tree::Empty, 2, {25244}},
    // MacLHA keeps a MacBinary file; we extract it as stored, the peer unwraps it.
    {"maclha_224/l[12]_(lh0|lh1|lh5|subdir|full_subdir)\\.lzh", Tree::MacBinary, 0, {}},
    // Names that climb out of the extract directory are refused, and nothing else is there.
    {"regression/dotdot\\.lzh", Tree::Empty, 1, {25245, 25245}},
    // A link entry that climbs out is refused; the file after it lands inside.
    {"regression/symlink2\\.lzh", Tree::NotCompared, 1, {25245}},
    {"regression/symlink3\\.lzh", Tree::NotCompared, 0, {}},
    // OS/2 extended attributes stored as a file named like the directory that follows.
    {"lh2_222/easubdir\\.lzh", Tree::NotCompared, 1, {25235, 25151}},
    // The installed peer stops at a directory stored as an empty file, and lists nothing where
    // level-0 directory entries have empty names.
    {"lha_amiga_122/lh0_dirs_bug\\.lzh",
     Tree::PeerAndMore,
     0,
     {},
     {"maindir/02_emptydir/", "maindir/03_dir/", "maindir/03_dir/file01.txt",
      "maindir/04_file.txt"}},
    {"(lha_unix114i|lha_osk_201)/h0_subdir\\.lzh", Tree::PeerAndMore, 0, {}, {"hello.txt"}},
    // The self-extractor's program carries a small archive of its own, ended by a 0 byte;
    // identification finds that one first, and the chain ends there.
    {"lha_amiga_122/sfx\\.run", Tree::Exactly, 0, {}, {"sfxusage.txt"}},
};

const Expectation& ExpectationFor(const std::string& archive) {
  static const Expectation kDefault{"", Tree::SameAsPeer, 0, {}};
  for (const Expectation& e : kExceptions)
    if (std::regex_match(archive, std::regex(e.archives))) return e;
  return kDefault;
}

std::vector<std::string> CorpusArchives() {
  std::vector<std::string> archives;
  if (!fs::is_directory(kCorpus)) return archives;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && !name.starts_with("README"))
      archives.push_back(fs::relative(entry.path(), kCorpus).generic_string());
  }
  std::sort(archives.begin(), archives.end());
  return archives;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The files ("name") and directories ("name/") below `root` by their names in lower case:
// the peer turns names from MS-DOS into lower case, we keep them as stored. Symbolic links are
// left out, and so are our renderings of link entries, directories named "link|target".
std::map<std::string, fs::path> TreeOf(const fs::path& root) {
  std::map<std::string, fs::path> tree;
  if (!fs::exists(root)) return tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (it->is_symlink() || relative.find('|') != std::string::npos) {
      if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
      continue;
    }
    tree[Lower(relative) + (it->is_directory() ? "/" : "")] = it->path();
  }
  return tree;
}

// Whether `ours`, from byte `offset` on, holds the whole of `peer`.
bool HoldsBytes(const fs::path& ours, std::uintmax_t offset, const fs::path& peer) {
  std::ifstream a(ours, std::ios::binary);
  std::ifstream b(peer, std::ios::binary);
  a.seekg(static_cast<std::streamoff>(offset));
  std::vector<char> x(1 << 20), y(1 << 20);
  while (b) {
    b.read(y.data(), static_cast<std::streamsize>(y.size()));
    a.read(x.data(), b.gcount());
    if (a.gcount() != b.gcount() || !std::equal(y.begin(), y.begin() + b.gcount(), x.begin()))
      return false;
  }
  return true;
}

std::vector<int> ReportedCodes(const std::string& stderrText) {
  std::vector<int> codes;
  static const std::regex kLine(R"(^quern: .*\((\d+)\)$)");
  std::smatch m;
  std::istringstream lines(stderrText);
  for (std::string line; std::getline(lines, line);)
    if (std::regex_match(line, m, kLine)) codes.push_back(std::stoi(m[1]));
  return codes;
}

class PeerCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(PeerCorpus, ExtractsAsThePeerDoes) {
  const std::string archive = GetParam();
  const Expectation& expect = ExpectationFor(archive);
  const std::string path = (kCorpus / archive).string();
  ScratchDir dir;

  const CommandResult ours =
      RunCommand({QuernPath(), "x", path, "-d", "quern"}, dir.path().string());
  EXPECT_EQ(ours.status, expect.status) << ours.err;
  EXPECT_EQ(ReportedCodes(ours.err), expect.codes) << ours.err;
  // Whatever the archive holds, nothing lands beside the extract directory.
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename(), "quern");

  const auto mine = TreeOf(dir / "quern");
  std::vector<std::string> names;
  for (const auto& [name, _] : mine)
    names.push_back(name);
  switch (expect.tree) {
    case Tree::NotCompared:
      return;
    case Tree::Empty:
      EXPECT_EQ(names, std::vector<std::string>{});
      return;
    case Tree::Exactly:
      EXPECT_EQ(names, expect.names);
      return;
    default:
      break;
  }
  fs::create_directory(dir / "peer");
  const CommandResult peer = RunCommand({"/usr/bin/lhasa", "xqf", path}, (dir / "peer").string());
  ASSERT_EQ(peer.status, 0) << "the peer does not extract it cleanly: " << peer.err;
  const auto theirs = TreeOf(dir / "peer");

  std::vector<std::string> expectedNames;
  for (const auto& [name, _] : theirs)
    expectedNames.push_back(name);
  for (const std::string& name : expect.names)
    expectedNames.push_back(name);
  std::sort(expectedNames.begin(), expectedNames.end());
  ASSERT_EQ(names, expectedNames);

  for (const auto& [name, peerPath] : theirs) {
    if (name.ends_with('/')) continue;
    const fs::path& ourPath = mine.at(name);
    if (expect.tree == Tree::MacBinary) {
      constexpr std::uintmax_t kMacBinaryHeader = 128;
      EXPECT_TRUE(HoldsBytes(ourPath, kMacBinaryHeader, peerPath)) << name;
    } else {
      EXPECT_EQ(fs::file_size(ourPath), fs::file_size(peerPath)) << name;
      EXPECT_TRUE(HoldsBytes(ourPath, 0, peerPath)) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, PeerCorpus, ::testing::ValuesIn(CorpusArchives()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(PeerCorpusTable, TheCorpusIsThereAndEveryExceptionNamesAnArchive) {
  const auto archives = CorpusArchives();
  ASSERT_FALSE(archives.empty()) << kCorpus;
  for (const Expectation& e : kExceptions)
    EXPECT_TRUE(std::any_of(archives.begin(), archives.end(), [&](const std::string& a) {
      return std::regex_match(a, std::regex(e.archives));
    })) << e.archives;
}

}  // namespace
}  // namespace quern::test
