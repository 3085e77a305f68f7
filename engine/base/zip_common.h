// The shared machinery of every unpacker component: settings, events, the run state, error
// reporting, progress, the block read and write routines, the stored copy and the running CRCs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/base/header_obj.h"
#include "engine/base/qrn_timer.h"
#include "engine/crypt/cipher.h"
#include "engine/decoders/decoder_io.h"
#include "engine/decoders/lzh_decoder.h"
#include "engine/ident/register_quern.h"
#include "engine/support/disk_manager.h"
#include "engine/support/streams.h"

namespace quern {

enum TCpuType : std::uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };
enum TDateAttribute : std::uint8_t { daFileDate, daSysDate, daMaxFileDate };
enum TOverwriteMode : std::uint8_t { omOverwrite, omSkip };

// What a format reader knows of the entry at hand before the common per-entry steps run.
struct TEntryInfo {
  std::uint16_t Flags = 0;        // bit 0: the entry is encrypted; no other bit is read
  std::uint32_t Method = 0;       // the format's method number, as the reader maps it
  std::int64_t PackedSize = 0;    // bytes the entry occupies in the archive
  std::int64_t UnpackedSize = 0;  // bytes of the file; the stored copy copies exactly these
};
inline constexpr std::uint16_t kEntryEncrypted = 0x0001;

// Event shapes. Sender is always the component; reference parameters are read back.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TOnElapsedTime = std::function<void(TComponent* Sender, float ElapsedTime)>;
using TOnBegin =
    std::function<void(TComponent* Sender, const std::string& FileName, int Count, bool& Extract)>;
using TOnEnd = std::function<void(TComponent* Sender, const std::string& FileName, bool CRC_PASS)>;
using TOnError =
    std::function<void(TComponent* Sender, const std::string& FileName,
                       const std::string& ExtendedMsg, const std::string& VolumeID, int ECode)>;
using TOnExcludeFile = std::function<void(TComponent* Sender, const std::string& FileName)>;
using TUnBase_OnFileExists =
    std::function<void(TComponent* Sender, const std::string& FileName, std::string& NewFileName,
                       TOverwriteMode& OverwriteMode)>;
using TOnGetPassword = std::function<void(TComponent* Sender, const std::string& FileName,
                                          std::string& Password, bool& TryAgain)>;
using TOnProgress =
    std::function<void(TComponent* Sender, std::uint8_t ByFile, std::uint8_t ByArchive)>;
using TOnRenameFile =
    std::function<void(TComponent* Sender, const std::string& FileName, std::string& NewFileName)>;

// Lets the host's window system handle pending messages during a run; a host with windows
// installs its own, the default does nothing.
using TProcessMessages = std::function<void()>;

class TZipCommon : public TRegisterQuern {
 public:
  explicit TZipCommon(TComponent* owner);
  ~TZipCommon() override;

  // --- Settings
  bool ConfirmOverwrites() const { return confirmOverwrites_; }
  void SetConfirmOverwrites(bool value) { confirmOverwrites_ = value; }
  TCpuType CpuType() const { return cpuType_; }
  void SetCpuType(TCpuType value) { cpuType_ = value; }
  bool CreateStoredDirs() const { return createStoredDirs_; }
  void SetCreateStoredDirs(bool value) { createStoredDirs_ = value; }
  TDateAttribute DateAttribute() const { return dateAttribute_; }
  void SetDateAttribute(TDateAttribute value) { dateAttribute_ = value; }
  const std::string& ExtractDir() const { return extractDir_; }
  // A non-empty value is kept with "\" separators and a trailing "\"; an empty one becomes the
  // path part of ArchiveFile.
  void SetExtractDir(std::string_view value);
  // Also a result: with ConfirmOverwrites the run leaves the last entry's decision here.
  TOverwriteMode OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(TOverwriteMode value) { overwriteMode_ = value; }
  bool RestoreFileAttr() const { return restoreFileAttr_; }
  void SetRestoreFileAttr(bool value) { restoreFileAttr_ = value; }
  bool TranslateOemChar() const { return translateOemChar_; }
  void SetTranslateOemChar(bool value) { translateOemChar_ = value; }
  bool UseStoredDirs() const { return useStoredDirs_; }
  void SetUseStoredDirs(bool value) { useStoredDirs_ = value; }

  // Read by every loop of a run; setting it true reports 25443 and winds the run down.
  bool Cancel() const { return cancel_; }
  virtual void SetCancel(bool value);

  void SetProcessMessages(TProcessMessages hook) { processMessages_ = std::move(hook); }

  // Checks the drive of a split ZIP set before a run opens it. Hosts may give it their prompts
  // and the Retry/Cancel question; its error report is the component's own.
  TDiskManager& DiskManager() { return diskManager_; }

  // --- Events (see the event shapes above)
  TOnBegin OnBegin;                   // before an entry is extracted; may decline it
  TNotifyEvent OnDeactivate;          // at the end of every run that opened its archive
  TOnElapsedTime OnElapsedTime;       // at the end of a run, with the time spent extracting
  TOnEnd OnEnd;                       // after every entry that was begun, with its CRC verdict
  TOnError OnError;                   // every failure, with its code
  TOnExcludeFile OnExcludeFile;       // an entry an exclusion mask rejected
  TUnBase_OnFileExists OnFileExists;  // an output file exists and ConfirmOverwrites is on
  TOnProgress OnProgress;             // after every block written
  TOnRenameFile OnRenameFile;         // before OnBegin (only when OnBegin is assigned)

  // --- Run state, readable after a run until the next one starts
  int FileCount() const { return fileCount_; }
  const std::string& OutputFileName() const { return outputFileName_; }
  std::int64_t TotalPacked() const { return totalPacked_; }
  std::int64_t TotalUnpacked() const { return totalUnpacked_; }
  std::uint32_t LatestEntryDate() const { return latestEntryDate_; }

  // --- Error reporting: the one funnel of every failure.
  // Reports a failure the current step survives.
  virtual void ReportError(const std::string& FileName, const std::string& ExtendedMsg,
                           const std::string& VolumeID, int ECode);
  // Reports a failure and aborts the current step with E_RAISE, unless the component is (or
  // the handler made it) cancelled, in which case the caller goes on and its loops stop.
  virtual void RaiseError(const std::string& FileName, const std::string& ExtendedMsg,
                          const std::string& VolumeID, int ECode);

 protected:
  // --- Block routines
  // Reads up to count bytes from the archive, deciphering them when asked; updates the CRC of
  // crcMode over what was read. Returns the number of bytes read.
  virtual std::size_t ReadBlock(TStream32& archive, std::uint8_t* buffer, std::size_t count,
                                std::uint8_t crcMode, bool decrypt);
  // Writes a decoded block to the output file. A short write reports 25136, a full disk
  // raises 25160. Returns the number of bytes written.
  virtual std::size_t WriteBlock(TStream32& out, std::uint8_t* buffer, std::size_t count,
                                 std::uint8_t crcMode, bool decrypt, bool updateCrc);
  // Copies an entry stored without compression; returns the bytes not copied (0: complete).
  std::int64_t CopyStored(TStream32& archive, TStream32& out, const TEntryInfo& info,
                          std::uint8_t crcMode);
  // Decodes an LZH-coded entry from the archive's position into `out`. At most the entry's
  // packed size is read (deciphered when asked), exactly its unpacked size at most written; a
  // write that accepts nothing raises 25136.
  void DecodeLzh(TStream32& archive, TStream32& out, const TEntryInfo& info,
                 const LzhParameters& coding, std::uint8_t crcMode, bool decipherInput);
  // Runs a decoder over an entry as DecodeLzh does: the decoder pulls at most the entry's packed
  // size from the archive's position (deciphered when asked) and hands blocks to WriteBlock with
  // crcMode, each lowering remaining and reported to ProgressUpdate. A block the output takes
  // none of raises 25136 with `failedName` and `failedVolume`.
  void DecodeEntry(TStream32& archive, TStream32& out, const TEntryInfo& info, std::uint8_t crcMode,
                   bool decipherInput, const std::string& failedName,
                   const std::string& failedVolume, const std::function<void(TDecoderIo&)>& decode);
  // Deciphers a block read from the archive; does nothing unless asked and the archive type
  // is one whose entries this engine deciphers.
  virtual void DecryptBuffer(bool encrypted, std::uint8_t* buffer, std::size_t count);
  void UpdateCrc(std::uint8_t crcMode, const std::uint8_t* buffer, std::size_t count);

  // Sets the output file name from an entry's stored name and ExtractDir.
  virtual void BuildOutputName(const std::string& storedName);

  // --- Progress
  void ProgressUpdate(std::int64_t entryDone, std::int64_t entrySize, std::int64_t archiveTotal);
  // Accounts for an entry that is not extracted: ByFile 100, ByArchive moves past it.
  void SkipEntry(const TEntryInfo& info);
  // The window-system message pump of the host.
  void ProcessMessages() {
    if (processMessages_) processMessages_();
  }

  // --- Run state (reset at the start of every run)
  int fileCount_ = 0;             // files accepted for extraction; the result of Extract
  std::string outputFileName_;    // full path of the current entry's output file
  std::string storedName_;        // the current entry's name as stored, translated
  std::int64_t totalPacked_ = 0;  // sums over the selected entries
  std::int64_t totalUnpacked_ = 0;
  std::int64_t remaining_ = 0;   // bytes of the selected entries not yet processed
  std::uint8_t lastByFile_ = 0;  // the percentages reported last
  std::uint8_t lastByArchive_ = 0;
  // The newest DOS date among the selected entries. Compared unsigned: the year field is the
  // top seven bits, so dates from 2044 on would sort first as signed numbers.
  std::uint32_t latestEntryDate_ = 0;
  bool entryEncrypted_ = false;  // the current entry is encrypted
  bool passwordFailed_ = false;  // no password opened an entry in this run
  TEntryInfo entryInfo_;         // the current entry, filled by the format reader
  TqrnTimer timer_;              // runs only while OnElapsedTime is assigned
  // Where ProgressUpdate sends its percentages; reset to the internal handler at run start.
  std::function<void(std::uint8_t, std::uint8_t)> progressCallback_;

  // The key state of the entry being deciphered.
  TTraditionalCipher cipher_;

  // The running checksums; the format reader presets them before each entry.
  std::uint32_t crc32_ = 0xFFFFFFFF;
  std::uint16_t crc16_ = 0;

  // The internal progress handler: pump messages, then tell the host.
  void DefaultProgress(std::uint8_t byFile, std::uint8_t byArchive);

  // Runs a host callback with the elapsed-time timer paused.
  template <typename F>
  void Paused(F&& call) {
    timer_.Pause();
    struct ResumeOnExit {
      TqrnTimer& timer;
      ~ResumeOnExit() { timer.Resume(); }
    } resume{timer_};
    call();
  }

 private:
  bool confirmOverwrites_ = false;
  TCpuType cpuType_ = cptAuto;
  bool createStoredDirs_ = false;
  TDateAttribute dateAttribute_ = daFileDate;
  std::string extractDir_;
  TOverwriteMode overwriteMode_ = omOverwrite;
  bool restoreFileAttr_ = true;
  bool translateOemChar_ = true;
  bool useStoredDirs_ = true;
  bool cancel_ = false;
  TProcessMessages processMessages_;
  TDiskManager diskManager_;
};

}  // namespace quern
