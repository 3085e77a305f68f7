// The root of every unpacker component: the archive's file name and its identified type.
// Writing ArchiveFile identifies the file at once; nothing here ever reports an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ident/component.h"
#include "engine/support/qrn_gbls.h"

namespace quern {

class TRegisterQuern : public TComponent {
 public:
  explicit TRegisterQuern(TComponent* owner) : TComponent(owner) {}

  const std::string& ArchiveFile() const { return archiveFile_; }
  // Stores the name ("/" turned into "\") and identifies the file. A name under which no file
  // exists empties ArchiveFile and gives atNA; a file that cannot be opened gives atNA.
  virtual void SetArchiveFile(std::string_view value);

  TArcType ArcType() const { return arcType_; }
  // The value is ignored: the file named by ArchiveFile is identified again (atFileOpenErr when
  // it cannot be opened while others may not write it). Nothing happens without ArchiveFile.
  virtual void SetArcType(TArcType value);

  // The file's length and where the archive data begin, as the last identification found.
  std::int64_t ArchiveSize() const { return archiveSize_; }
  std::int64_t ArchiveOffset() const { return archiveOffset_; }

 protected:
  // Puts a name back without identifying the file again (the end of an extraction run).
  void RestoreArchiveFile(std::string name) { archiveFile_ = std::move(name); }

 private:
  void Identify(std::uint16_t openMode, TArcType onOpenFailure);

  std::string archiveFile_;
  TArcType arcType_ = atNA;
  std::int64_t archiveSize_ = 0;
  std::int64_t archiveOffset_ = 0;
};

}  // namespace quern
