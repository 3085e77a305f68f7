// quern: the engine from a shell.
//   quern id FILE...                               type and archive offset of each file
//   quern x ARCHIVE [-d DIR] [-p PASSWORD] [MASK...] extract
//   quern a ARCHIVE [-m store|deflate] [-p PASSWORD] PATH...  write a BH archive
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/err_msgs.h"
#include "engine/bh/un_bh.h"
#include "engine/lha/un_lha.h"
#include "engine/support/qrn_gbls.h"
#include "tools/quern/bh_archiver.h"

namespace {

using namespace quern;

constexpr int kExitOk = 0;
constexpr int kExitEntryFailed = 1;
constexpr int kExitNoArchive = 2;

std::string EngineToNative(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

void PrintError(const std::string& file, int code) {
  std::fprintf(stderr, "quern: %s: %s (%d)\n", EngineToNative(file).c_str(),
               std::string(MessageText(code)).c_str(), code);
}

int Identify(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    TUnBh probe;
    probe.SetArchiveFile(file);
    std::printf("%s %lld %s\n", std::string(ArcTypeIdentifier(probe.ArcType())).c_str(),
                static_cast<long long>(probe.ArchiveOffset()), file.c_str());
  }
  return kExitOk;
}

// The reader for an identified type; nullptr when the engine has none.
std::unique_ptr<TUnBase> ReaderFor(TArcType type) {
  switch (type) {
    case atBh:
    case atBhExe:
      return std::make_unique<TUnBh>();
    case atLha:
    case atLhaExe:
      return std::make_unique<TUnLha>();
    default:
      return nullptr;
  }
}

int ExtractArchive(const std::string& archive, std::string dir, const std::string& password,
                   std::vector<std::string> masks) {
  TUnBh probe;
  probe.SetArchiveFile(archive);
  if (probe.ArchiveFile().empty()) {
    PrintError(archive, ec::kFileNotFound);
    return kExitNoArchive;
  }
  std::unique_ptr<TUnBase> unpacker = ReaderFor(probe.ArcType());
  if (!unpacker) {
    PrintError(archive, 25244);  // "Invalid or unsupported archive type for this operation"
    return kExitNoArchive;
  }

  unpacker->SetArchiveFile(archive);
  // A relative directory means what it means in the shell: below the current directory.
  if (dir.empty()) dir = ".";
  unpacker->SetExtractDir(std::filesystem::absolute(dir).lexically_normal().string());
  unpacker->SetFileSpec(masks.empty() ? std::vector<std::string>{"*.*"} : masks);
  unpacker->SetCreateStoredDirs(true);
  if (auto* bh = dynamic_cast<TUnBh*>(unpacker.get()); bh && !password.empty())
    bh->SetPasswords({password});

  bool openFailed = false;
  bool entryFailed = false;
  unpacker->OnError = [&](TComponent*, const std::string& fileName, const std::string&,
                          const std::string& volumeId, int code) {
    const bool atOpen = code == ec::kFileNotFound || (code == ec::kOpenError && fileName.empty());
    (atOpen ? openFailed : entryFailed) = true;
    PrintError(!fileName.empty() ? fileName : !volumeId.empty() ? volumeId : archive, code);
  };
  unpacker->OnEnd = [&](TComponent*, const std::string& fileName, bool pass) {
    if (pass) return;
    entryFailed = true;
    PrintError(fileName, ec::kCrcFailed);
  };
  unpacker->Extract();
  if (openFailed) return kExitNoArchive;
  return entryFailed ? kExitEntryFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quern: identify and extract archives"};
  app.require_subcommand(1);

  std::vector<std::string> idFiles;
  CLI::App* id = app.add_subcommand("id", "print the type and archive offset of each file");
  id->add_option("FILE", idFiles, "files to identify")->required();

  std::string archive, dir, password;
  std::vector<std::string> masks;
  CLI::App* x = app.add_subcommand("x", "extract an archive");
  x->add_option("ARCHIVE", archive, "the archive")->required();
  x->add_option("MASK", masks, "masks of the entries to extract (default *.*)");
  x->add_option("-d", dir, "directory to extract into (default: the current directory)");
  x->add_option("-p", password, "password of encrypted entries");

  std::string newArchive, method = "store", newPassword;
  std::vector<std::string> paths;
  CLI::App* a = app.add_subcommand("a", "write a BH archive of files and directories");
  a->add_option("ARCHIVE", newArchive, "the archive to write")->required();
  a->add_option("PATH", paths, "files and directories, relative to the current directory")
      ->required();
  a->add_option("-m", method, "store or deflate")->check(CLI::IsMember({"store", "deflate"}));
  a->add_option("-p", newPassword, "encrypt the entries with this password");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitNoArchive;
  }
  if (id->parsed()) return Identify(idFiles);
  if (a->parsed()) {
    const tool::ArchiveOptions options{
        method == "deflate" ? tool::PackMethod::Deflate : tool::PackMethod::Store, newPassword};
    return tool::WriteBhArchive(newArchive, paths, options) ? kExitOk : kExitEntryFailed;
  }
  return ExtractArchive(archive, dir, password, masks);
}
