// The unpacker component for LHA archives: header levels 0, 1 and 2; stored, -lh1- and -lh4- to
// -lh7- entries and directories, each checked against its CRC-16.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "engine/base/un_base.h"
#include "engine/lha/lha_format.h"

namespace quern {

class TUnLha : public TUnBase {
 public:
  explicit TUnLha(TComponent* owner = nullptr) : TUnBase(owner) {}

  // Only the LHA reader lets the host hear of a run's start.
  using TCustomDClass::OnActivate;

 protected:
 private:
  // What the header at hand says of its entry, beyond the base header's own fields.
  struct THeader {
    lha::TLhaBaseHeader base;   // the first 22 bytes as read
    std::string name;           // directory and file name, as stored (OEM code page)
    std::uint16_t crc = 0;      // CRC-16 of the unpacked data
    std::uint32_t dosDate = 0;  // the time stamp as a DOS date and time
    std::int64_t dataAt = 0;    // where the packed data begin
    std::int64_t dataSize = 0;  // packed data bytes, without a level-1 header's extensions
    std::int64_t nextAt = 0;    // where the next header begins
  };

  // Walks the header chain from the archive offset and lists the selected entries.
  void ScanPass(TStream32& archive, TUnBaseHeaderObj& list) override;
  // Extracts the listed entries in archive order.
  void ExtractionPass(TStream32& archive, const TUnBaseHeaderObj& list) override;
  // One entry, with its header read; the CRC verdict.
  bool ExtractEntry(TStream32& archive);
  // Creates, fills and closes the output file of a file entry.
  void DecodeFile(TStream32& archive);
  // Decodes the entry's data into the open output file, by its method.
  void Decode(TStream32& archive);

  // Reads the 22 bytes every header starts with, at `at`; false at the end of the chain (a
  // header size of 0, or fewer than 22 bytes left).
  bool ReadBaseHeader(TStream32& archive, std::int64_t at);
  // Reads the rest of the header whose base was read at `at`; false ends the pass (a bad header
  // has been reported then, an unknown level or a cut header is not).
  bool ReadRestOfHeader(TStream32& archive, std::int64_t at);
  bool ReadLevel01(TStream32& archive, std::int64_t at);
  bool ReadLevel2(TStream32& archive, std::int64_t at);
  // Takes what the reader uses from one extended header (type, data, next size); returns the
  // size of the next one.
  std::uint16_t TakeExtendedHeader(std::span<const std::uint8_t> ext, bool first);

  THeader header_;                      // the current entry's header
  std::string extName_;                 // the current header's file-name extension, if any
  bool hasExtName_ = false;             // the current header has a file-name extension
  std::string firstExtData_;            // data of the current header's first extension
  std::string extDirectory_;            // the last directory extension, with a trailing "\"
  std::unique_ptr<TFileStream32> out_;  // the current entry's output file
  std::int64_t written_ = 0;            // bytes the current entry's output file got
};

}  // namespace quern
