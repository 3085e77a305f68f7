// quern id prints what identification finds, whatever the type.
#include <gtest/gtest.h>

#include "common/run_command.h"
#include "common/scratch_dir.h"
#include "ident_support.h"

namespace quern::test {
namespace {

TEST(QuernId, PrintsTypeAndOffsetOfEveryFile) {
  ScratchDir dir;
  WriteFileBytes(dir / "sfx.exe", Concat(Program(kPastEnd, 0, 40000), BuildZip({}).bytes));
  WriteFileBytes(dir / "a.jar", BuildZip({}).bytes);
  WriteFileBytes(dir / "a.uue", Text("begin 644 a.txt\nM86)C\n`\nend\n"));
  WriteFileBytes(dir / "short", Text("Rar!"));
  const CommandResult id =
      RunCommand({QuernPath(), "id", "sfx.exe", "a.jar", "a.uue", "short"}, dir.path().string());
  EXPECT_EQ(id.status, 0);
  EXPECT_EQ(id.out, "atZipExe 40040 sfx.exe\natJar 40 a.jar\natUUE 0 a.uue\natNA -1 short\n");
}

}  // namespace
}  // namespace quern::test
