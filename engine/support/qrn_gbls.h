// File-name, path and date helpers shared by the unpacker components, and the archive types.
// Every function works on byte strings in the ANSI code page with "\" as the path separator and
// keeps no state, except the time-zone record the platform captures once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quern {

// The archive type of a file, as identification finds it. "Exe" types are archives inside a
// program file or behind other data.
enum TArcType : std::uint8_t {
  atNA,
  atUnsupported,
  atFileOpenErr,
  atUnknown,
  atAce,
  atAceExe,
  atArc,
  atArcExe,
  atArj,
  atArjExe,
  atBh,
  atBhExe,
  atCab,
  atCabExe,
  atGZip,
  atHA,
  atJar,
  atJarExe,
  atLha,
  atLhaExe,
  atLzh,
  atLzhExe,
  atMsGZ,
  atPak,
  atPakExe,
  atRar,
  atRarExe,
  atTar,
  atTarGZip,
  atUUE,
  atZip,
  atZipExe,
  atZipDS,
  atZipMV,
  atZoo,
};
inline constexpr int kArcTypeCount = atZoo + 1;

// The ten-character display name ("BH        ", "BH  SFX   ", ...).
std::string_view ArcTypeDisplayName(TArcType type);
// The identifier as written in code ("atBh", "atBhExe", ...).
std::string_view ArcTypeIdentifier(TArcType type);
// atNA, atUnsupported, atFileOpenErr and atUnknown: the file is no archive we can name.
bool IsNoArchive(TArcType type);
bool IsZipFamily(TArcType type);

// A date value: days since 30 December 1899, the fraction being the time of day.
using TDateValue = double;

std::string AddTrailingBackslash(std::string_view s);
std::string SlashesToBackslashes(std::string_view s);
// Converts a stored name from the OEM code page when `translate` is set; "/" becomes "\"
// either way.
std::string OemNameToAnsi(std::string_view name, bool translate);
// Turns "/" and 0xFF into "\" outside double-byte characters (lead bytes 0x80-0x9F and
// 0xE0-0xFD), then trims bytes up to the space from both ends.
std::string NormalizeSeparators(std::string_view s);
bool DirectoryPresent(std::string_view path);
bool NamePresent(std::string_view pathOrPattern);
// Creates every missing directory of the path; true when the path is a directory afterwards.
bool CreateDirectoryTree(std::string_view path);
// Splits `s` at the first `delimiter`: returns the head and leaves the tail in `s` (the whole
// string and an empty tail when there is no delimiter).
std::string SplitAtDelimiter(std::string& s, std::string_view delimiter);
bool IsUncName(std::string_view s);
// part * 100 / total rounded half to even and limited to 0..100; 0 when total <= 0.
std::uint8_t PercentOf(std::int64_t part, std::int64_t total);
TDateValue UnixTimeToLocal(std::int32_t seconds);
TDateValue UtcToLocalTime(TDateValue utc);
bool IsDaylightSaving(TDateValue utc);
// The DOS date and time of a date value; 0 outside the years 1980 to 2107.
std::uint32_t DateValueToDos(TDateValue value);
// The octal digits of `s` read in order; every other byte is skipped.
std::int32_t OctalToInt(std::string_view s);

// Calendar conversions of date values, exact to the millisecond.
TDateValue EncodeDateValue(int year, int month, int day, int hour, int minute, int second,
                           int millisecond = 0);
struct DecodedDate {
  int year, month, day, hour, minute, second, millisecond;
};
DecodedDate DecodeDateValue(TDateValue value);

// Path parts of a name, as the output-name rules use them.
// Text up to and including the last "\" or ":" (empty if none).
std::string ExtractFilePath(std::string_view name);
// Text after the last "\" or ":".
std::string ExtractFileName(std::string_view name);
// The path part without its final "\", unless that "\" starts the name or follows ":" or another
// "\" (a root keeps its separator).
std::string ExtractFileDir(std::string_view name);

}  // namespace quern
