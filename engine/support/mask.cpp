#include "engine/support/mask.h"

#include <optional>

#include "engine/support/qrn_gbls.h"

namespace quern {

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

}  // namespace

TInternalMask::TInternalMask(std::string_view mask) {
  bool pendingSkip = false;
  for (char c : mask) {
    if (c == '*') {
      pendingSkip = true;
    } else if (c == '?') {
      // After a star a "?" adds nothing the star does not already match: "*?" is "*".
      if (!pendingSkip) states_.push_back({false, Kind::AnyChar, 0});
    } else {
      states_.push_back({pendingSkip, Kind::Literal, UpperAscii(c)});
      pendingSkip = false;
    }
  }
  states_.push_back({pendingSkip, Kind::Literal, 0});
  endsWithDot_ = !mask.empty() && mask.back() == '.';
}

bool TInternalMask::Matches(std::string_view name) const {
  std::string dotted;
  if (endsWithDot_ && name.find('.') == std::string_view::npos) {
    dotted = std::string(name) + '.';
    name = dotted;
  }

  // Where the latest star group could swallow one more character. Earlier star groups never
  // need a retry: whatever they could take later, the latest one can take instead, because
  // every literal after a star group is found at its first occurrence. Keeping only this one
  // point makes a match linear in the name for each star group, whatever the mask.
  struct Retry {
    std::size_t pos;
    std::size_t state;
  };
  std::optional<Retry> retry;
  std::size_t pos = 0;
  std::size_t first = 0;
  for (;;) {
    bool matched = true;
    for (std::size_t i = first; i < states_.size(); ++i) {
      const State& state = states_[i];
      if (state.skip) {
        while (pos < name.size() && (state.literal == 0 || UpperAscii(name[pos]) != state.literal))
          ++pos;
        if (pos < name.size()) retry = Retry{pos + 1, i};
      }
      bool ok;
      if (state.kind == Kind::AnyChar)
        ok = pos < name.size();
      else if (state.literal == 0)
        ok = pos >= name.size();
      else
        ok = pos < name.size() && UpperAscii(name[pos]) == state.literal;
      if (!ok) {
        matched = false;
        break;
      }
      ++pos;
    }
    if (matched) return true;
    if (!retry) return false;
    pos = retry->pos;
    first = retry->state;
    retry.reset();
  }
}

bool MatchesMask(std::string_view name, std::string_view mask) {
  return TInternalMask(mask).Matches(name);
}

std::string MaskDirectoryPart(std::string_view name) {
  if (name.size() == 3 && name.find(':') != std::string_view::npos) return std::string(name);
  const auto pos = name.find_last_of("\\/:");
  if (pos == std::string_view::npos) return {};
  if (name[pos] == ':') return std::string(name.substr(0, pos + 1));
  // "C:\x" keeps the root separator; "docs\x" loses it.
  if (pos == 2 && name[1] == ':') return std::string(name.substr(0, 3));
  return std::string(name.substr(0, pos));
}

bool SpecListSelects(std::string_view name, std::vector<std::string>& fileSpec, bool recurseDirs,
                     const std::vector<std::string>* excludeSpec,
                     const std::function<void(const std::string&)>& onExclude) {
  if (name.empty()) return false;
  const std::string fullName(name);
  const std::string nameDir = AddTrailingBackslash(MaskDirectoryPart(fullName));
  // The name as the last line tried it; the exclusion test of the next line sees it so.
  std::string tested = fullName;
  for (std::string& line : fileSpec) {
    if (line.empty()) continue;
    if (excludeSpec) {
      for (const std::string& exclude : *excludeSpec) {
        if (MatchesMask(tested, exclude)) {
          if (onExclude) onExclude(tested);
          return false;
        }
      }
    }
    if (EqualsIgnoreCase(line, fullName)) return true;

    tested = fullName;
    const std::string lineDir = AddTrailingBackslash(MaskDirectoryPart(line));
    bool tried;
    if (recurseDirs) {
      // A line without a directory selects the name in every directory.
      tried = true;
      if (lineDir.empty()) tested = ExtractFileName(fullName);
    } else {
      tried = EqualsIgnoreCase(nameDir, lineDir);
    }
    if (!tried) continue;
    if (MatchesMask(tested, line)) return true;
    // "README" and "README." name the same file; try both sides with the dot.
    if (tested.find('.') == std::string::npos) tested += '.';
    if (line.find('.') == std::string::npos) line += '.';
    if (MatchesMask(tested, line)) return true;
  }
  return false;
}

}  // namespace quern
