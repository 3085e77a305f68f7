// The unpacker component for LHA archives.
#pragma once

#include "engine/base/un_base.h"

namespace quern {

class TUnLha : public TUnBase {
 public:
  explicit TUnLha(TComponent* owner = nullptr) : TUnBase(owner) {}

  // Only the LHA reader lets the host hear of a run's start.
  using TCustomDClass::OnActivate;

 protected:
  void ExtractArchive(TStream32* archive) override;
};

}  // namespace quern
