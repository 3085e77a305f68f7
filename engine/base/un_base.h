// The extraction settings a host gives every unpacker: which entries to take and which to leave.
#pragma once

#include <string>
#include <vector>

#include "engine/base/custom_dclass.h"

namespace quern {

using TStrings = std::vector<std::string>;

class TUnBase : public TCustomDClass {
 public:
  explicit TUnBase(TComponent* owner) : TCustomDClass(owner) {}

  // Masks of the entries to extract; an empty list selects nothing. Lines without "." may be
  // rewritten by a run (a "." appended) when they fail to match.
  const TStrings& FileSpec() const { return fileSpec_; }
  void SetFileSpec(const TStrings& value) { fileSpec_ = value; }
  // Masks of the entries never extracted.
  const TStrings& ExcludeSpec() const { return excludeSpec_; }
  void SetExcludeSpec(const TStrings& value) { excludeSpec_ = value; }
  // Match masks in every stored directory (on), or only in the directory a mask names (off).
  bool RecurseDirs() const { return recurseDirs_; }
  void SetRecurseDirs(bool value) { recurseDirs_ = value; }

 protected:
  // Runs the format's two passes over the opened archive: the scan lists the selected entries,
  // the extraction pass (only when the scan selected any) extracts them in archive order.
  // Whatever escapes the passes ends the extraction quietly; the run reports the count.
  void ExtractArchive(TStream32* archive) override;
  virtual void ScanPass(TStream32& /*archive*/, TUnBaseHeaderObj& /*list*/) {}
  virtual void ExtractionPass(TStream32& /*archive*/, const TUnBaseHeaderObj& /*list*/) {}

  // Whether the scan pass selects an entry of this (translated) stored name.
  bool SpecListTest(const std::string& storedName);

 private:
  TStrings fileSpec_;
  TStrings excludeSpec_;
  bool recurseDirs_ = true;
};

}  // namespace quern
