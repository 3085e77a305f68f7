#include "tools/quern/bh_archiver.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "engine/bh/bh_format.h"
#include "engine/crypt/cipher.h"

namespace quern::tool {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::uint32_t LocalDosDateTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  if (tm.tm_year < 80) return (1 << 5 | 1) << 16;  // 1 January 1980
  return static_cast<std::uint32_t>((tm.tm_year - 80) << 25 | (tm.tm_mon + 1) << 21 |
                                    tm.tm_mday << 16 | tm.tm_hour << 11 | tm.tm_min << 5 |
                                    tm.tm_sec / 2);
}

// Raw deflate at the best level; empty when the data do not shrink.
Bytes Deflate(const Bytes& data) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  Bytes out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END || out.size() >= data.size()) return {};
  return out;
}

struct Entry {
  std::string name;  // "\" separators
  bool directory = false;
  std::uint32_t dosDateTime = 0;
  std::uint16_t attributes = 0;
  Bytes data;
};

void AppendEntry(Bytes& archive, const Entry& e, const ArchiveOptions& options) {
  std::uint8_t method = bh::kMethodStored;
  Bytes packed;
  if (!e.directory && options.method == PackMethod::Deflate) packed = Deflate(e.data);
  if (!packed.empty())
    method = bh::kMethodDeflate8;
  else
    packed = e.data;
  const std::uint32_t crc =
      e.directory ? 0 : static_cast<std::uint32_t>(crc32_z(0, e.data.data(), e.data.size()));

  std::uint8_t flags = 0;
  if (!options.password.empty() && !e.directory) {
    flags = bh::kFlagEncrypted;
    TTraditionalCipher cipher;
    cipher.InitKeys(options.password);
    std::array<std::uint8_t, bh::kEncryptionHeaderSize> header;
    std::random_device random;
    for (auto& b : header)
      b = static_cast<std::uint8_t>(random());
    header.back() = static_cast<std::uint8_t>(crc >> 24);
    cipher.EncodeBuffer(header.data(), header.size());
    cipher.EncodeBuffer(packed.data(), packed.size());
    packed.insert(packed.begin(), header.begin(), header.end());
  }

  Put32(archive, bh::kSignature);
  Put16(archive, 0x25);  // any nonzero header word continues the chain
  archive.push_back(0);
  archive.push_back(bh::kFirstNewCipherVersion);
  archive.push_back(0);
  archive.push_back(flags);
  archive.push_back(method);
  Put32(archive, e.dosDateTime);
  Put32(archive, static_cast<std::uint32_t>(packed.size()));
  Put32(archive, static_cast<std::uint32_t>(e.data.size()));
  Put32(archive, crc);
  Put16(archive, e.attributes);
  Put32(archive, 0);
  Put16(archive, static_cast<std::uint32_t>(e.name.size()));
  Put16(archive, 0);
  archive.insert(archive.end(), e.name.begin(), e.name.end());
  archive.insert(archive.end(), packed.begin(), packed.end());
}

bool AddPath(const fs::path& path, std::vector<Entry>& entries) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "quern: %s: cannot read\n", path.c_str());
    return false;
  }
  Entry e;
  e.name = path.lexically_normal().generic_string();
  while (e.name.starts_with("./"))
    e.name.erase(0, 2);
  while (e.name.starts_with("/"))
    e.name.erase(0, 1);
  while (!e.name.empty() && e.name.back() == '/')
    e.name.pop_back();
  for (char& c : e.name)
    if (c == '/') c = '\\';
  e.directory = S_ISDIR(st.st_mode);
  const bool here = e.name.empty() || e.name == ".";  // the current directory: its contents
  if ((here && !e.directory) || e.name == ".." || e.name.starts_with("..\\") ||
      e.name.size() > bh::kMaxNameLength) {
    std::fprintf(stderr, "quern: %s: not a name below the current directory\n", path.c_str());
    return false;
  }
  e.dosDateTime = LocalDosDateTime(st.st_mtime);
  e.attributes = e.directory ? 0x10 : 0x20;
  if ((st.st_mode & 0222) == 0) e.attributes |= 0x01;

  bool ok = true;
  if (e.directory) {
    if (!here) entries.push_back(e);
    std::vector<fs::path> children;
    for (const auto& child : fs::directory_iterator(path))
      children.push_back(child.path());
    std::sort(children.begin(), children.end());
    for (const auto& child : children)
      ok = AddPath(child, entries) && ok;
    return ok;
  }
  std::ifstream in(path, std::ios::binary);
  e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "quern: %s: cannot read\n", path.c_str());
    return false;
  }
  entries.push_back(std::move(e));
  return true;
}

}  // namespace

bool WriteBhArchive(const std::string& archive, const std::vector<std::string>& paths,
                    const ArchiveOptions& options) {
  std::vector<Entry> entries;
  bool ok = true;
  for (const std::string& p : paths)
    ok = AddPath(p, entries) && ok;

  Bytes bytes;
  for (const Entry& e : entries)
    AppendEntry(bytes, e, options);
  std::ofstream out(archive, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "quern: %s: cannot write\n", archive.c_str());
    return false;
  }
  return ok;
}

}  // namespace quern::tool
