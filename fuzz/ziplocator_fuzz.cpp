// The ZIP directory locator and identification over any bytes held in memory: a position and
// flags for every input, reads only inside the file, no crash and no hang.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/ident/identify.h"
#include "engine/ident/zip_locator.h"
#include "engine/support/streams.h"
#include "fuzz/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quern::fuzz::MemoryStream stream(data, size);
  const quern::ZipLocation z = quern::LocateZipDirectory(stream, static_cast<std::int64_t>(size));
  if (z.position < -1 || z.position > static_cast<std::int64_t>(size)) std::abort();
  // The drive of a split set is looked up by this name; no such path exists.
  quern::IdentifyArchive(stream, "\\nonexistent\\fuzz.zip");
  return 0;
}
