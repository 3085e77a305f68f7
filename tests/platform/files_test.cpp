// Files: opening with access and sharing modes, creating, reading and writing, attributes,
// directory queries and the injected faults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/scratch_dir.h"
#include "platform/platform.h"

namespace quern::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

const std::vector<std::uint8_t> kContent = {'k', 'e', 'e', 'p'};

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(OpenFile, RefusesWhatIsNotAnOpenableFile) {
  ScratchDir scratch;
  fs::create_directory(scratch / "dir");
  ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0666), 0);
  WriteFileBytes(scratch / "ro", kContent);
  fs::permissions(scratch / "ro", fs::perms::owner_read | fs::perms::group_read);
  struct Case {
    const char* name;
    Access access;
    SystemError error;
  };
  const Case cases[] = {
      {"missing", Access::Read, SystemError::NotFound},
      {"nodir\\missing", Access::Read, SystemError::NotFound},
      {"dir", Access::Read, SystemError::AccessDenied},
      {"fifo", Access::Read, SystemError::AccessDenied},  // must not wait for a writer
      // The read-only attribute holds even for a user the system would let write.
      {"ro", Access::Write, SystemError::AccessDenied},
      {"ro", Access::ReadWrite, SystemError::AccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OpenFile(scratch.EnginePath(c.name), c.access, Share::ReadWrite), kInvalidHandle);
    EXPECT_EQ(LastError(), c.error);
  }
  Handle reader = OpenFile(scratch.EnginePath("ro"), Access::Read, Share::Read);
  EXPECT_NE(reader, kInvalidHandle);
  EXPECT_TRUE(CloseFile(reader));
}

TEST(OpenFile, SharingModesExcludeEachOther) {
  struct Case {
    Access firstAccess;
    Share firstShare;
    Access secondAccess;
    Share secondShare;
    bool admitted;
  };
  const Case cases[] = {
      {Access::Read, Share::ReadWrite, Access::Read, Share::ReadWrite, true},
      {Access::Read, Share::Read, Access::Read, Share::Read, true},
      // A writer that lets others read admits a reader that lets others write...
      {Access::Write, Share::Read, Access::Read, Share::ReadWrite, true},
      // ...but not a reader that forbids writing, nor another writer.
      {Access::Write, Share::Read, Access::Read, Share::Read, false},
      {Access::Write, Share::Read, Access::Write, Share::ReadWrite, false},
      {Access::Read, Share::Read, Access::Write, Share::ReadWrite, false},
      {Access::Read, Share::Read, Access::ReadWrite, Share::ReadWrite, false},
      {Access::Read, Share::None, Access::Read, Share::ReadWrite, false},
      {Access::Read, Share::ReadWrite, Access::Read, Share::None, false},
      {Access::Write, Share::ReadWrite, Access::Read, Share::None, false},
      // Forbidding reading keeps out readers, not writers.
      {Access::Read, Share::Write, Access::Write, Share::ReadWrite, true},
      {Access::Write, Share::Write, Access::Write, Share::Write, true},
      {Access::Write, Share::Write, Access::Read, Share::ReadWrite, false},
      {Access::ReadWrite, Share::ReadWrite, Access::ReadWrite, Share::ReadWrite, true},
  };
  ScratchDir scratch;
  WriteFileBytes(scratch / "f", kContent);
  const std::string path = scratch.EnginePath("f");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "first " << int(c.firstAccess) << "/" << int(c.firstShare) << ", second "
                 << int(c.secondAccess) << "/" << int(c.secondShare));
    Handle first = OpenFile(path, c.firstAccess, c.firstShare);
    ASSERT_NE(first, kInvalidHandle);
    Handle second = OpenFile(path, c.secondAccess, c.secondShare);
    EXPECT_EQ(second != kInvalidHandle, c.admitted);
    if (second != kInvalidHandle) {
      CloseFile(second);
    } else {
      EXPECT_EQ(LastError(), SystemError::SharingViolation);
    }
    CloseFile(first);
    // Closing the first handle lifts what it forbade.
    second = OpenFile(path, c.secondAccess, c.secondShare);
    EXPECT_NE(second, kInvalidHandle);
    CloseFile(second);
  }
}

TEST(OpenFile, SharingHoldsBetweenProcesses) {
  ScratchDir scratch;
  WriteFileBytes(scratch / "f", kContent);
  const std::string path = scratch.EnginePath("f");
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(release[1]);
    Handle h = OpenFile(path, Access::Read, Share::None);
    char byte = h != kInvalidHandle ? '1' : '0';
    (void)!write(ready[1], &byte, 1);
    (void)!read(release[0], &byte, 1);  // until the parent closes its end
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, '1');
  EXPECT_EQ(OpenFile(path, Access::Read, Share::ReadWrite), kInvalidHandle);
  EXPECT_EQ(LastError(), SystemError::SharingViolation);
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  Handle h = OpenFile(path, Access::Read, Share::ReadWrite);
  EXPECT_NE(h, kInvalidHandle);
  CloseFile(h);
}

TEST(CreateFile, ReplacesAnExistingFile) {
  ScratchDir scratch;
  WriteFileBytes(scratch / "f", kContent);
  Handle h = CreateFile(scratch.EnginePath("f"));
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(fs::file_size(scratch / "f"), 0u);
  // Nobody else may open it meanwhile.
  EXPECT_EQ(OpenFile(scratch.EnginePath("f"), Access::Read, Share::ReadWrite), kInvalidHandle);
  EXPECT_TRUE(CloseFile(h));

  h = CreateFile(scratch.EnginePath("new"));
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(CloseFile(h));
  EXPECT_TRUE(fs::is_regular_file(scratch / "new"));
}

TEST(CreateFile, RefusesWithoutTouchingTheTarget) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& name, const fs::path& victim)> setup;
    SystemError error;
  };
  const Case cases[] = {
      {"read-only file",
       [](const fs::path& name, const fs::path&) {
         WriteFileBytes(name, kContent);
         fs::permissions(name, fs::perms::owner_read);
       },
       SystemError::AccessDenied},
      {"link to a file",
       [](const fs::path& name, const fs::path& victim) { fs::create_symlink(victim, name); },
       SystemError::AccessDenied},
      {"dangling link",
       [](const fs::path& name, const fs::path& victim) {
         fs::remove(victim);
         fs::create_symlink(victim, name);
       },
       SystemError::AccessDenied},
      {"directory", [](const fs::path& name, const fs::path&) { fs::create_directory(name); },
       SystemError::AccessDenied},
      {"file open elsewhere",
       [](const fs::path& name, const fs::path&) { WriteFileBytes(name, kContent); },
       SystemError::SharingViolation},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    WriteFileBytes(scratch / "victim", kContent);
    c.setup(scratch / "name", scratch / "victim");
    const bool victimExisted = fs::exists(scratch / "victim");
    Handle other = c.error == SystemError::SharingViolation
                       ? OpenFile(scratch.EnginePath("name"), Access::Read, Share::ReadWrite)
                       : kInvalidHandle;
    EXPECT_EQ(CreateFile(scratch.EnginePath("name")), kInvalidHandle);
    EXPECT_EQ(LastError(), c.error);
    if (other != kInvalidHandle) CloseFile(other);
    // Nothing was emptied, and nothing was made through a link.
    if (fs::is_regular_file(fs::symlink_status(scratch / "name"))) {
      EXPECT_EQ(ReadFileBytes(scratch / "name"), kContent);
    }
    EXPECT_EQ(fs::exists(scratch / "victim"), victimExisted);
    if (victimExisted) {
      EXPECT_EQ(ReadFileBytes(scratch / "victim"), kContent);
    }
  }
}

TEST(FileData, WriteSeekReadAndTruncate) {
  ScratchDir scratch;
  Handle h = CreateFile(scratch.EnginePath("f"));
  ASSERT_NE(h, kInvalidHandle);
  const char text[] = "hello world";
  EXPECT_EQ(WriteFile(h, text, 11), 11u);
  EXPECT_EQ(SeekFile(h, -5, Origin::End), 6);
  char buffer[16] = {};
  EXPECT_EQ(ReadFile(h, buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "world");
  EXPECT_EQ(ReadFile(h, buffer, sizeof buffer), 0u);  // at the end
  EXPECT_EQ(SeekFile(h, 0, Origin::Current), 11);
  EXPECT_EQ(SeekFile(h, -1, Origin::Begin), -1);
  EXPECT_EQ(SeekFile(h, 5, Origin::Begin), 5);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(SeekFile(h, 0, Origin::End), 5);
  EXPECT_TRUE(CloseFile(h));
  EXPECT_EQ(ReadFileBytes(scratch / "f"), (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));

  // A handle that is gone reads and writes nothing.
  EXPECT_EQ(ReadFile(h, buffer, sizeof buffer), 0u);
  EXPECT_EQ(LastError(), SystemError::Other);
  EXPECT_EQ(WriteFile(h, text, 11), 0u);
  EXPECT_FALSE(CloseFile(h));
}

TEST(FileData, FullDiskIsReported) {
  Handle h = OpenFile("\\dev\\full", Access::Write, Share::ReadWrite);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(WriteFile(h, "x", 1), 0u);
  EXPECT_EQ(LastError(), SystemError::DiskFull);
  CloseFile(h);
}

TEST(Attributes, ReportAndChange) {
  ScratchDir scratch;
  WriteFileBytes(scratch / "f", kContent);
  fs::create_directory(scratch / "dir");
  fs::create_symlink(scratch / "dir", scratch / "dirlink");
  EXPECT_EQ(GetFileAttributes(scratch.EnginePath("f")), kAttrArchive);
  EXPECT_EQ(GetFileAttributes(scratch.EnginePath("dir")), kAttrDirectory);
  EXPECT_EQ(GetFileAttributes(scratch.EnginePath("dirlink")), kAttrDirectory);
  EXPECT_EQ(GetFileAttributes(scratch.EnginePath("missing")), std::nullopt);

  fs::permissions(scratch / "f", fs::perms::owner_read | fs::perms::owner_write |
                                     fs::perms::group_write | fs::perms::others_read);
  ASSERT_TRUE(SetFileAttributes(scratch.EnginePath("f"), kAttrReadOnly | kAttrHidden));
  EXPECT_EQ(ModeOf(scratch / "f"), mode_t{0404});
  EXPECT_EQ(GetFileAttributes(scratch.EnginePath("f")), kAttrReadOnly | kAttrArchive);
  ASSERT_TRUE(SetFileAttributes(scratch.EnginePath("f"), kAttrArchive));
  EXPECT_EQ(ModeOf(scratch / "f"), mode_t{0604});

  // A read-only directory must still take the files unpacked into it.
  const mode_t dirMode = ModeOf(scratch / "dir");
  EXPECT_TRUE(SetFileAttributes(scratch.EnginePath("dir"), kAttrDirectory | kAttrReadOnly));
  EXPECT_EQ(ModeOf(scratch / "dir"), dirMode);
}

TEST(Attributes, LinkIsNotFollowedWhenChanging) {
  ScratchDir scratch;
  WriteFileBytes(scratch / "target", kContent);
  fs::permissions(scratch / "target", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(scratch / "target", scratch / "link");
  EXPECT_FALSE(SetFileAttributes(scratch.EnginePath("link"), kAttrReadOnly));
  EXPECT_EQ(ModeOf(scratch / "target"), mode_t{0600});
  EXPECT_FALSE(SetFileAttributes(scratch.EnginePath("missing"), kAttrReadOnly));
  EXPECT_EQ(LastError(), SystemError::NotFound);
}

TEST(Directories, FindAnyWithAndWithoutWildcards) {
  ScratchDir scratch;
  WriteFileBytes(scratch / "Readme.TXT", kContent);
  WriteFileBytes(scratch / "noext", kContent);
  fs::create_directory(scratch / "sub");
  fs::create_directory(scratch / "empty");
  fs::create_symlink(scratch / "gone", scratch / "dangling");
  struct Case {
    const char* pattern;
    bool found;
  };
  const Case cases[] = {
      {"*.txt", true},  {"readme.???", true}, {"R*E.T?T", true},     {"*.*", true},
      {"noe*.*", true}, {"noext.*", true},    {"noext?", false},     {"*.doc", false},
      {"?", false},     {"empty\\*", false},  {"empty\\*.*", false}, {"sub", true},
      {"noext", true},  {"dangling", true},   {"missing", false},    {"nodir\\*", false},
      {"s?b", true},    {"*x*t", true},       {"*e*e*e", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(FindAny(scratch.EnginePath(c.pattern)), c.found);
  }
}

TEST(Directories, ExistenceAndCreation) {
  ScratchDir scratch;
  WriteFileBytes(scratch / "f", kContent);
  fs::create_symlink(scratch / "f", scratch / "link");
  EXPECT_TRUE(FileExists(scratch.EnginePath("f")));
  EXPECT_TRUE(FileExists(scratch.EnginePath("link")));
  EXPECT_FALSE(FileExists(scratch.EnginePath()));
  EXPECT_FALSE(FileExists(scratch.EnginePath("missing")));

  EXPECT_TRUE(CreateDirectory(scratch.EnginePath("d")));
  EXPECT_TRUE(fs::is_directory(scratch / "d"));
  EXPECT_FALSE(CreateDirectory(scratch.EnginePath("d")));
  EXPECT_FALSE(CreateDirectory(scratch.EnginePath("no\\d")));
  EXPECT_EQ(LastError(), SystemError::NotFound);
}

TEST(Directories, HasLinkBelow) {
  ScratchDir scratch;
  ScratchDir outside;
  fs::create_directories(scratch / "a/b");
  fs::create_directory_symlink(outside.path(), scratch / "out");
  fs::create_symlink(outside / "f", scratch / "a/file");
  const std::string root = scratch.EnginePath();
  struct Case {
    std::string path;
    bool link;
  };
  const Case cases[] = {
      {root + "a\\b\\new\\f", false}, {root + "a\\b", false},
      {root + "new", false},          {root, false},
      {root + "out\\x", true},        {root + "out", true},
      {root + "a\\file", true},       {root + "a\\.\\file", true},
      {root + "a\\..\\..\\x", true},  {outside.EnginePath("x"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(HasLinkBelow(root, c.path), c.link);
  }
  // The root itself may be reached through a link.
  EXPECT_FALSE(HasLinkBelow(scratch.EnginePath("out\\"), scratch.EnginePath("out\\x")));
}

class Faults : public testing::Test {
 protected:
  void TearDown() override { ClearFaults(); }
  ScratchDir scratch_;
};

TEST_F(Faults, WritesFailAsPlanned) {
  struct Case {
    WriteFault fault;
    int skip, count;
    std::vector<std::size_t> written;  // for four writes of 10 bytes
    SystemError error;
  };
  const Case cases[] = {
      {WriteFault::Short, 1, 1, {10, 5, 10, 10}, SystemError::Other},
      {WriteFault::DiskFull, 2, -1, {10, 10, 5, 5}, SystemError::DiskFull},
      {WriteFault::DiskFull, 0, 2, {5, 5, 10, 10}, SystemError::DiskFull},
  };
  const char data[] = "0123456789";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.fault) << " " << c.skip << " " << c.count);
    Handle h = CreateFile(scratch_.EnginePath("f"));
    ASSERT_NE(h, kInvalidHandle);
    FaultPlan plan;
    plan.write = c.fault;
    plan.writesToSkip = c.skip;
    plan.writesToFault = c.count;
    InstallFaults(plan);
    std::size_t total = 0;
    for (std::size_t expected : c.written) {
      std::size_t n = WriteFile(h, data, 10);
      EXPECT_EQ(n, expected);
      if (n < 10) {
        EXPECT_EQ(LastError(), c.error);
      }
      total += n;
    }
    ClearFaults();
    CloseFile(h);
    // What a faulted write reports is what reached the file.
    EXPECT_EQ(fs::file_size(scratch_ / "f"), total);
  }
}

TEST_F(Faults, OpenOfThePathFails) {
  WriteFileBytes(scratch_ / "f", kContent);
  WriteFileBytes(scratch_ / "g", kContent);
  FaultPlan plan;
  plan.failOpenOf = "C:" + scratch_.EnginePath("f");
  InstallFaults(plan);
  EXPECT_EQ(OpenFile(scratch_.EnginePath("f"), Access::Read, Share::ReadWrite), kInvalidHandle);
  EXPECT_EQ(LastError(), SystemError::AccessDenied);
  EXPECT_EQ(CreateFile(scratch_.EnginePath("f")), kInvalidHandle);
  EXPECT_EQ(ReadFileBytes(scratch_ / "f"), kContent);
  Handle other = OpenFile(scratch_.EnginePath("g"), Access::Read, Share::ReadWrite);
  EXPECT_NE(other, kInvalidHandle);
  CloseFile(other);

  ClearFaults();
  Handle h = OpenFile(scratch_.EnginePath("f"), Access::Read, Share::ReadWrite);
  EXPECT_NE(h, kInvalidHandle);
  CloseFile(h);
}

}  // namespace
}  // namespace quern::platform
