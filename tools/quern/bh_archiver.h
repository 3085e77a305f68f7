// Writes BH archives from files on disk, for publishers who make material archives.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quern::tool {

enum class PackMethod { Store, Deflate };

struct ArchiveOptions {
  PackMethod method = PackMethod::Store;
  std::string password;  // empty: entries are not encrypted
};

// Adds the files and directories (recursively) named by `paths`, relative to the current
// directory, to a new archive. Reports problems on stderr; false when the archive could not
// be written or a path could not be read.
bool WriteBhArchive(const std::string& archive, const std::vector<std::string>& paths,
                    const ArchiveOptions& options);

}  // namespace quern::tool
