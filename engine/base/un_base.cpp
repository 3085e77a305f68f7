#include "engine/base/un_base.h"

#include "engine/support/mask.h"

namespace quern {

bool TUnBase::SpecListTest(const std::string& storedName) {
  return SpecListSelects(storedName, fileSpec_, recurseDirs_, &excludeSpec_,
                         [this](const std::string& name) {
                           if (OnExcludeFile) OnExcludeFile(this, name);
                         });
}

}  // namespace quern
