// Identification of a whole file: any bytes must give a type without a crash or a hang.
#include "engine/bh/un_bh.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quern::fuzz::ResetScratch();
  quern::TUnBh unbh;
  unbh.SetArchiveFile(quern::fuzz::WriteInput(data, size, "input.bin"));
  unbh.SetArcType(quern::atNA);
  return 0;
}
