// Names from the OEM code page in the ANSI one (UTF-8).
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quern::platform {
namespace {

// The converter for the OEM code page in force; CP437 when the environment names one the
// C library does not know. Opened per call, so that threads never share its state.
iconv_t OpenOemConverter() {
  const char* page = std::getenv("QUERN_OEMCP");
  if (page != nullptr && *page != '\0') {
    iconv_t cd = iconv_open("UTF-8", ("CP" + std::string(page)).c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) return cd;
  }
  return iconv_open("UTF-8", "CP437");
}

}  // namespace

std::string OemToAnsi(std::string_view oem) {
  iconv_t cd = OpenOemConverter();
  std::string out;
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without a converter only ASCII is known to mean the same in both code pages.
    for (char c : oem)
      out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
    return out;
  }

  char* in = const_cast<char*>(oem.data());
  size_t inLeft = oem.size();
  char buffer[256];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A byte with no meaning in the code page, or a lead byte with nothing valid after it:
    // it stands as "?" and the conversion goes on with the next byte.
    out += '?';
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush whatever shift state a stateful code page may still hold.
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, static_cast<size_t>(outPtr - buffer));
  iconv_close(cd);
  return out;
}

}  // namespace quern::platform
