// The unpacker component for BH archives.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "engine/base/un_base.h"
#include "engine/bh/bh_format.h"

namespace quern {

class TUnBh : public TUnBase {
 public:
  explicit TUnBh(TComponent* owner = nullptr) : TUnBase(owner) {}

  // Only BH archives carry passwords.
  using TCustomDClass::OnGetPassword;
  using TCustomDClass::PasswordAttempts;
  using TCustomDClass::Passwords;
  using TCustomDClass::SetPasswordAttempts;
  using TCustomDClass::SetPasswords;

 protected:
  bool CheckPassword(std::span<const std::uint8_t, 12> rawHeader) override;

 private:
  // Walks the header chain from the archive offset and lists the selected entries.
  void ScanPass(TStream32& archive, TUnBaseHeaderObj& list) override;
  // Extracts the listed entries in archive order.
  void ExtractionPass(TStream32& archive, const TUnBaseHeaderObj& list) override;
  // One entry, with the archive positioned at its packed data; the CRC verdict.
  bool ExtractEntry(TStream32& archive, std::uint32_t attributes);
  void DecodeFile(TStream32& archive, std::uint32_t attributes);
  // Inflates a Deflate entry (methods 2 and 8) in blocks of 32768 bytes.
  void Inflate(TStream32& archive);
  // Reads the header at the stream's position; false when fewer than 37 bytes came.
  bool ReadHeader(TStream32& archive);
  // Reads the name that follows a header (never deciphered; at most 255 bytes); the bytes read.
  std::size_t ReadStoredName(TStream32& archive, std::string& name);

  bh::TBhHeader header_;                // the current entry's header
  std::unique_ptr<TFileStream32> out_;  // the current entry's output file
};

}  // namespace quern
