// Records the events of an extraction run as lines, so that a test can compare a whole run
// with the order it expects. File names are shown relative to a prefix (the scratch directory).
#pragma once

#include <string>
#include <vector>

#include "engine/bh/un_bh.h"

namespace quern::test {

class EventLog {
 public:
  explicit EventLog(std::string prefix = {}) : prefix_(std::move(prefix)) {}

  std::vector<std::string> lines;

  // Handlers that record and do nothing else; the tests assign the ones they need.
  TNotifyEvent Deactivate();
  TOnElapsedTime ElapsedTime();
  TOnBegin Begin(bool extract = true);
  TOnEnd End();
  TOnError Error();
  TOnExcludeFile Exclude();
  TOnProgress Progress();
  TOnRenameFile Rename();

  // Every event recorded, none changing anything.
  void AttachAll(TUnBh& unbh);

  std::string Relative(const std::string& name) const;

 private:
  std::string prefix_;
};

}  // namespace quern::test
