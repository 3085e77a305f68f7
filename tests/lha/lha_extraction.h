// A TUnLha set up as the command-line tool sets it, over an archive written to a scratch
// directory: every entry ("*.*") into "out", stored directories created.
#pragma once

#include <filesystem>
#include <string>

#include "common/bh_writer.h"
#include "common/event_log.h"
#include "common/scratch_dir.h"
#include "engine/lha/un_lha.h"

namespace quern::test {

struct LhaExtraction {
  ScratchDir dir;
  TUnLha unlha;
  EventLog log{dir.EnginePath("out") + "\\"};

  explicit LhaExtraction(const Bytes& archive, const std::string& name = "a.lzh") {
    WriteFileBytes(dir / name, archive);
    Open(name);
  }
  // Over an archive already in the scratch directory.
  struct Existing {};
  LhaExtraction(Existing, const std::string& name) { Open(name); }

  std::filesystem::path Out(std::string_view relative = {}) const { return dir / "out" / relative; }
  // Every error and every verdict, in order.
  void LogErrorsAndVerdicts() {
    unlha.OnError = log.Error();
    unlha.OnEnd = log.End();
  }

 private:
  void Open(const std::string& name) {
    unlha.SetArchiveFile(dir.EnginePath(name));
    unlha.SetExtractDir(dir.EnginePath("out"));
    unlha.SetFileSpec({"*.*"});
    unlha.SetCreateStoredDirs(true);
  }
};

}  // namespace quern::test
