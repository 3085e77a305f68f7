// A TUnBh set up as the command-line tool sets it, over an archive written to a scratch
// directory: every entry ("*.*") into "out", stored directories created.
#pragma once

#include <filesystem>
#include <string>

#include "common/bh_writer.h"
#include "common/event_log.h"
#include "common/scratch_dir.h"
#include "engine/bh/un_bh.h"

namespace quern::test {

struct Extraction {
  ScratchDir dir;
  TUnBh unbh;
  EventLog log{dir.EnginePath("out") + "\\"};

  explicit Extraction(const Bytes& archive, const std::string& name = "a.bh") {
    WriteFileBytes(dir / name, archive);
    unbh.SetArchiveFile(dir.EnginePath(name));
    unbh.SetExtractDir(dir.EnginePath("out"));
    unbh.SetFileSpec({"*.*"});
    unbh.SetCreateStoredDirs(true);
  }
  std::filesystem::path Out(std::string_view relative = {}) const { return dir / "out" / relative; }
  // The engine's name of a file below "out".
  std::string OutName(std::string_view relative) const {
    return dir.EnginePath("out") + "\\" + std::string(relative);
  }
};

}  // namespace quern::test
