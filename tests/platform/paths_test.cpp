// Path translation, absolute paths, the current directory and the private temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/scratch_dir.h"
#include "platform/platform.h"

namespace quern::platform {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;
using test::ToEnginePath;

TEST(PathTranslation, EngineAndNativeForms) {
  struct Case {
    const char* engine;
    const char* native;
    const char* back;  // FromNativePath(native)
  };
  const Case cases[] = {
      {"\\home\\a\\x.bh", "/home/a/x.bh", "\\home\\a\\x.bh"},
      {"C:\\dir\\x.bh", "/dir/x.bh", "\\dir\\x.bh"},
      {"z:rel\\x", "rel/x", "rel\\x"},
      {"rel\\sub\\", "rel/sub/", "rel\\sub\\"},
      {"1:\\x", "1:/x", "1:\\x"},  // only a letter makes a drive
      {"a:", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.engine);
    EXPECT_EQ(ToNativePath(c.engine), c.native);
    EXPECT_EQ(FromNativePath(c.native), c.back);
  }
}

// Runs a test body from inside a directory, and goes back afterwards.
class InDirectory {
 public:
  explicit InDirectory(const fs::path& dir) : previous_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~InDirectory() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

TEST(FullPath, ResolvesByText) {
  ScratchDir scratch;
  const fs::path real = fs::canonical(scratch.path());
  fs::create_directory(real / "sub");
  InDirectory here(real / "sub");
  const std::string cwd = ToEnginePath(real / "sub");
  const std::string parent = ToEnginePath(real);
  ASSERT_EQ(CurrentDirectory(), cwd);

  struct Case {
    const char* path;
    std::string full;
  };
  const Case cases[] = {
      {"\\a\\b\\..\\c", "\\a\\c"},
      {"\\a\\.\\b\\", "\\a\\b\\"},
      {"\\a\\\\b", "\\a\\b"},
      {"\\..\\..\\x", "\\x"},
      {"\\", "\\"},
      {"\\a\\..", "\\"},
      {"C:\\a\\b", "\\a\\b"},
      {"x\\y", cwd + "\\x\\y"},
      {"x\\y\\", cwd + "\\x\\y\\"},
      {"C:x", cwd + "\\x"},
      {"", cwd},
      {".", cwd},
      {"..", parent},
      {"..\\sub\\.\\f", cwd + "\\f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FullPath(c.path), c.full);
  }
}

TEST(FullPath, LinksAreNotResolved) {
  ScratchDir scratch;
  fs::create_directories(scratch / "real/deep");
  fs::create_directory_symlink(scratch / "real/deep", scratch / "link");
  // Through the link, ".." would lead into "real"; by text it leads back to the scratch dir.
  EXPECT_EQ(FullPath(scratch.EnginePath("link\\..\\f")), scratch.EnginePath("f"));
}

struct stat StatOf(const std::string& enginePath) {
  struct stat st {};
  EXPECT_EQ(lstat(ToNativePath(enginePath).c_str(), &st), 0) << enginePath;
  return st;
}

void ExpectPrivateDirectory(const std::string& dir) {
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  struct stat st = StatOf(dir);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, getuid());
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(TempDirectory, MakesAndReusesTheSharedName) {
  ScratchDir scratch;
  const std::string shared = scratch.EnginePath("tarsel-" + std::to_string(getuid())) + "\\";
  EXPECT_EQ(TempDirectoryIn(scratch.EnginePath()), shared);
  ExpectPrivateDirectory(shared);
  EXPECT_EQ(TempDirectoryIn(scratch.EnginePath()), shared);

  const std::string process = TempDirectory();
  ExpectPrivateDirectory(process);
  EXPECT_EQ(TempDirectory(), process);
}

TEST(TempDirectory, UnfitSharedNameGetsAFreshDirectory) {
  const std::string name = "tarsel-" + std::to_string(getuid());
  struct Case {
    const char* what;
    void (*plant)(const fs::path& shared, const fs::path& elsewhere);
  };
  const Case cases[] = {
      {"link to a private directory",
       [](const fs::path& shared, const fs::path& elsewhere) {
         fs::create_directory(elsewhere);
         fs::permissions(elsewhere, fs::perms::owner_all);
         fs::create_directory_symlink(elsewhere, shared);
       }},
      {"group may enter",
       [](const fs::path& shared, const fs::path&) {
         fs::create_directory(shared);
         fs::permissions(shared,
                         fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
       }},
      {"others may write",
       [](const fs::path& shared, const fs::path&) {
         fs::create_directory(shared);
         fs::permissions(shared, fs::perms::owner_all | fs::perms::others_write);
       }},
      {"a file",
       [](const fs::path& shared, const fs::path&) { test::WriteFileBytes(shared, {'x'}); }},
      {"owned by someone else",
       [](const fs::path& shared, const fs::path&) {
         fs::create_directory(shared);
         fs::permissions(shared, fs::perms::owner_all);
         ASSERT_EQ(chown(shared.c_str(), getuid() + 1, static_cast<gid_t>(-1)), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (getuid() != 0 && std::string(c.what) == "owned by someone else") continue;
    ScratchDir scratch;
    c.plant(scratch / name, scratch / "elsewhere");
    const std::string dir = TempDirectoryIn(scratch.EnginePath());
    ExpectPrivateDirectory(dir);
    EXPECT_EQ(dir.rfind(scratch.EnginePath(name + "-"), 0), 0u) << dir;
  }
}

}  // namespace
}  // namespace quern::platform
