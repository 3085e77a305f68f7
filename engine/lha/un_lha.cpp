#include "engine/lha/un_lha.h"

namespace quern {

void TUnLha::ExtractArchive(TStream32*) {}

}  // namespace quern
