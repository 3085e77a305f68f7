// LHA extraction of arbitrary bytes into a scratch directory: every failure must come out as a
// coded error, nothing may be written outside the output directory.
#include <cstdlib>
#include <filesystem>

#include "engine/lha/un_lha.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  quern::fuzz::ResetScratch();
  const std::string archive = quern::fuzz::WriteInput(data, size, "input.lzh");
  quern::TUnLha unlha;
  unlha.SetArchiveFile(archive);
  unlha.SetExtractDir(archive.substr(0, archive.rfind('\\')) + "\\out");
  unlha.SetFileSpec({"*.*"});
  unlha.SetCreateStoredDirs(true);
  unlha.OnError = [](quern::TComponent*, const std::string&, const std::string&, const std::string&,
                     int code) {
    if (code < 25101 || code > 26899) std::abort();
  };
  unlha.Extract();
  for (const auto& entry : fs::directory_iterator(quern::fuzz::Scratch())) {
    const auto name = entry.path().filename();
    if (name != "input.lzh" && name != "out") std::abort();  // written outside the output
  }
  return 0;
}
