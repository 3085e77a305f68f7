#include "common/event_log.h"

namespace quern::test {

std::string EventLog::Relative(const std::string& name) const {
  return !prefix_.empty() && name.starts_with(prefix_) ? name.substr(prefix_.size()) : name;
}

TNotifyEvent EventLog::Deactivate() {
  return [this](TComponent*) { lines.push_back("Deactivate"); };
}

TOnElapsedTime EventLog::ElapsedTime() {
  return [this](TComponent*, float) { lines.push_back("ElapsedTime"); };
}

TOnBegin EventLog::Begin(bool extract) {
  return [this, extract](TComponent*, const std::string& file, int count, bool& doExtract) {
    lines.push_back("Begin " + Relative(file) + " " + std::to_string(count));
    doExtract = extract;
  };
}

TOnEnd EventLog::End() {
  return [this](TComponent*, const std::string& file, bool pass) {
    lines.push_back("End " + Relative(file) + (pass ? " pass" : " fail"));
  };
}

TOnError EventLog::Error() {
  return [this](TComponent*, const std::string& file, const std::string& extended,
                const std::string& volume, int code) {
    lines.push_back("Error " + std::to_string(code) + " " + Relative(file) + "|" +
                    Relative(extended) + "|" + Relative(volume));
  };
}

TOnExcludeFile EventLog::Exclude() {
  return [this](TComponent*, const std::string& file) { lines.push_back("Exclude " + file); };
}

TOnProgress EventLog::Progress() {
  return [this](TComponent*, std::uint8_t byFile, std::uint8_t byArchive) {
    lines.push_back("Progress " + std::to_string(byFile) + " " + std::to_string(byArchive));
  };
}

TOnRenameFile EventLog::Rename() {
  return [this](TComponent*, const std::string& file, std::string&) {
    lines.push_back("Rename " + Relative(file));
  };
}

void EventLog::AttachAll(TUnBh& unbh) {
  unbh.OnDeactivate = Deactivate();
  unbh.OnElapsedTime = ElapsedTime();
  unbh.OnBegin = Begin();
  unbh.OnEnd = End();
  unbh.OnError = Error();
  unbh.OnExcludeFile = Exclude();
  unbh.OnProgress = Progress();
  unbh.OnRenameFile = Rename();
}

}  // namespace quern::test
