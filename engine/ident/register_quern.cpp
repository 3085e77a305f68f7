#include "engine/ident/register_quern.h"

#include "engine/ident/identify.h"
#include "engine/support/streams.h"
#include "platform/platform.h"

namespace quern {

void TRegisterQuern::SetArchiveFile(std::string_view value) {
  if (!platform::FileExists(value)) {
    arcType_ = atNA;
    archiveFile_.clear();
    return;
  }
  archiveFile_ = SlashesToBackslashes(value);
  Identify(fmOpenRead | fmShareDenyNone, atNA);
}

void TRegisterQuern::SetArcType(TArcType) {
  if (archiveFile_.empty()) return;
  Identify(fmOpenRead | fmShareDenyWrite, atFileOpenErr);
}

void TRegisterQuern::Identify(std::uint16_t openMode, TArcType onOpenFailure) {
  TFileStream32 stream(archiveFile_, openMode);
  if (!stream.Valid()) {
    arcType_ = onOpenFailure;
    return;
  }
  const Identification id = IdentifyArchive(stream, archiveFile_);
  arcType_ = id.type;
  archiveSize_ = id.size;
  archiveOffset_ = id.offset;
}

}  // namespace quern
