// The extraction run and the per-entry steps every format reader shares: entry start with its
// overwrite decision, output files, the end-of-entry CRC check and password acquisition.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/base/zip_common.h"

namespace quern {

class TCustomDClass : public TZipCommon {
 public:
  explicit TCustomDClass(TComponent* owner) : TZipCommon(owner) {}

  void SetArchiveFile(std::string_view value) override { TZipCommon::SetArchiveFile(value); }

  // Runs one extraction of ArchiveFile into ExtractDir and returns the number of files
  // extracted. Never throws: failures reach the host through OnError and the count. A second
  // call while a run of this component is in progress returns 0 at once.
  int Extract();

 protected:
  // The format's scan and extraction passes over the opened archive (nullptr for archive types
  // that no reader opens). The base reads nothing.
  virtual void ExtractArchive(TStream32* archive);

  // Compares the running CRC of crcMode (16, or 32 for any other) with the stored one, in its
  // plain or complemented form; a cancelled run never passes. Fires OnEnd, or reports 25151 on
  // a mismatch without it.
  virtual bool CheckCrc(std::uint8_t crcMode, std::uint32_t storedCrc);
  // Whether the current password opens the current entry's encryption header.
  virtual bool CheckPassword(std::span<const std::uint8_t, 12> rawHeader);
  // Reads the current entry's 12-byte encryption header from the archive and finds a password
  // that opens it: the current one, the Passwords list, then OnGetPassword. On true the cipher
  // stands right after the header.
  bool AcquirePassword(TStream32& archive);

  // Refuses (25245) an output name that would leave the extract directory: a ".." component
  // or a symbolic link on the way. The entry is then skipped as a declined one.
  bool AcceptOutputName();
  // The entry start: OnRenameFile, OnBegin and the overwrite decision. True: extract it.
  bool BeginEntry(bool isDirectory);
  // Creates the output file and its directory; false when the system refuses it.
  bool CreateOutputFile(std::unique_ptr<TFileStream32>& out, const std::string& fileName);
  // Dates and closes the output file, then gives it the stored attributes.
  void CloseOutputFile(std::unique_ptr<TFileStream32>& out, const std::string& fileName,
                       std::uint32_t attributes, std::uint32_t dosDateTime);
  // The DOS date an output file gets, by DateAttribute.
  std::uint32_t ResolveFileDate(std::uint32_t dosDateTime) const;

  // Only the LHA reader lets the host assign this; it fires at the start of every run.
  TNotifyEvent OnActivate;

  // Password handling; only the BH reader offers it to the host.
  TOnGetPassword OnGetPassword;
  const std::vector<std::string>& Passwords() const { return passwords_; }
  void SetPasswords(const std::vector<std::string>& value) { passwords_ = value; }
  int PasswordAttempts() const { return passwordAttempts_; }
  void SetPasswordAttempts(int value) { passwordAttempts_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(std::string value) { password_ = std::move(value); }

 private:
  void Run(TStream32* archive);

  std::string password_;                // the password in force; kept between entries and runs
  std::vector<std::string> passwords_;  // candidates, tried in order
  int passwordAttempts_ = 3;            // how often OnGetPassword may be asked per entry
  bool running_ = false;                // a run of this component is in progress
};

}  // namespace quern
