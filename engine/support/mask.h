// Wildcard masks: "*" matches any run of bytes (separators and dots included), "?" exactly one,
// everything else itself, ASCII letters without regard to case. A mask that ends in "." also
// matches a name without any dot, as if the name ended in one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quern {

class TInternalMask {
 public:
  explicit TInternalMask(std::string_view mask);
  // True when the whole name matches.
  bool Matches(std::string_view name) const;

 private:
  enum class Kind : std::uint8_t { Literal, AnyChar };
  struct State {
    bool skip;  // a star group precedes this state: advance to the literal first
    Kind kind;
    char literal;  // upper-cased; 0 is the end of the name
  };
  std::vector<State> states_;  // ends with the end-of-name literal
  bool endsWithDot_ = false;   // the mask text's last character is "."
};

// Compiles the mask and matches the name once.
bool MatchesMask(std::string_view name, std::string_view mask);

// The directory part of a name, as the selection rules compare it: a three-character name with
// ":" as it is ("C:\", also "C:x"); "C:" for "C:xy"; "C:\" for "C:\x"; "docs" for "docs\a.txt";
// "" for "\a.txt".
std::string MaskDirectoryPart(std::string_view name);

// Whether an entry of stored name `name` is selected by the `fileSpec` lines, honouring
// `recurseDirs` and the `excludeSpec` lines (nullptr: no exclusion list). An excluded name is
// passed to `onExclude` (when set). A line without "." that fails to match may be rewritten in
// `fileSpec` with a "." appended; the change stays in the list.
bool SpecListSelects(std::string_view name, std::vector<std::string>& fileSpec, bool recurseDirs,
                     const std::vector<std::string>* excludeSpec,
                     const std::function<void(const std::string&)>& onExclude);

}  // namespace quern
