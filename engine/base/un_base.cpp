#include "engine/base/un_base.h"

#include "engine/support/mask.h"

namespace quern {

void TUnBase::ExtractArchive(TStream32* archive) {
  if (archive == nullptr) return;
  TUnBaseHeaderObj list;
  try {
    ScanPass(*archive, list);
    if (list.Count() > 0) ExtractionPass(*archive, list);
  } catch (...) {
  }
  list.Clear();
}

bool TUnBase::SpecListTest(const std::string& storedName) {
  return SpecListSelects(storedName, fileSpec_, recurseDirs_, &excludeSpec_,
                         [this](const std::string& name) {
                           if (OnExcludeFile) OnExcludeFile(this, name);
                         });
}

}  // namespace quern
