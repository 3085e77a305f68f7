// The engine's error codes and their message texts. A code is both the identity of a failure
// and the key of its text; hosts receive it through OnError.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quern {

// The codes the extraction road produces, by name.
namespace ec {
inline constexpr int kBadFileHeader = 25114;
inline constexpr int kWriteError = 25136;         // "Error writing to file"
inline constexpr int kCloseError = 25138;         // "Error closing file"
inline constexpr int kCrcFailed = 25151;          // "File fails CRC check"
inline constexpr int kDiskFull = 25160;           // "Disk full"
inline constexpr int kFileNotFound = 25192;       // "File not found"
inline constexpr int kOpenError = 25235;          // "Error opening file"
inline constexpr int kInvalidFileName = 25245;    // "Invalid file name"
inline constexpr int kRequiredEvent = 25270;      // "Required event not assigned"
inline constexpr int kUnsupportedMethod = 25326;  // "Unsupported compression method"
inline constexpr int kUserCanceled = 25443;       // "User canceled"
inline constexpr int kInvalidPassword = 26517;    // "Invalid password"
}  // namespace ec

// The text of a code; empty for a number the table does not hold.
std::string_view MessageText(int code);

// Aborts the current step of an extraction; the engine catches it itself and never lets it
// reach the host. Carries the message text of the code it was raised with.
class E_RAISE : public std::runtime_error {
 public:
  explicit E_RAISE(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

}  // namespace quern
