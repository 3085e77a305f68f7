// Decoding speed of the engine's main road, in MB/s of output.
//
//   quern_bench [DEFLATE_MB [LZH_MB]]
//     Deflate: a BH method-8 archive of mixed data extracted file to file with the CRC on,
//     against zlib's own raw inflate of the same data into memory.
//     LZH: payloads made by a real encoder (jlha) for -lh5-, -lh6- and -lh7-, decoded alone
//     and, for the BH codings (methods 1 and 3), extracted file to file.
//   quern_bench bh-from-lha ARCHIVE.lzh SOURCE_DIR OUT.bh
//     wraps the -lh5- and -lh6- entries of a level-2 LHA archive as BH method 1 and 3 entries
//     (CRCs taken from the original files in SOURCE_DIR), for side-by-side runs with peers.
//     LHA: the same payloads, and -lh1- ones made by the tests' encoder, decoded alone and
//     extracted from LHA archives file to file.
//   quern_bench hostile FILE
//     writes a BH archive whose entries claim 4 GiB each while holding a few bytes (stored,
//     LZH of both sizes, Deflate, and a directory-escaping name), for memory measurements.
//   quern_bench mixed MB FILE [SEED]
//     writes MB megabytes of the benchmarks' mixed data.
//   quern_bench lh1-lzh OUT.lzh FILE...
//     packs the files as -lh1- entries of a level-2 LHA archive (no archiver at hand writes
//     -lh1-), for side-by-side runs with peers.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/bench_data.h"
#include "common/lh1_encoder.h"
#include "common/lha_archive.h"
#include "common/lha_writer.h"
#include "engine/bh/un_bh.h"
#include "engine/decoders/lzh_decoder.h"
#include "engine/lha/lh1_decoder.h"
#include "engine/lha/un_lha.h"

namespace {

namespace fs = std::filesystem;
using quern::bench::Bytes;

std::uint32_t Crc32(const Bytes& b) {
  return static_cast<std::uint32_t>(crc32_z(0, b.data(), b.size()));
}

// The best of `runs` timings of `work`, in seconds.
double Best(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

double MBps(std::size_t bytes, double seconds) {
  return bytes / 1e6 / seconds;
}

std::string EnginePath(const fs::path& p) {
  std::string s = p.string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// Extracts a BH archive file to file as the launcher does; fails loudly on a bad CRC.
void ExtractBh(const fs::path& archive, const fs::path& out) {
  quern::TUnBh unbh;
  unbh.SetArchiveFile(EnginePath(archive));
  unbh.SetExtractDir(EnginePath(out));
  unbh.SetFileSpec({"*.*"});
  bool failed = false;
  unbh.OnEnd = [&](quern::TComponent*, const std::string&, bool pass) { failed |= !pass; };
  unbh.Extract();
  if (failed) {
    std::fprintf(stderr, "quern_bench: %s did not extract cleanly\n", archive.c_str());
    std::exit(1);
  }
}

// Extracts an LHA archive file to file as `quern x` does; fails loudly on a bad CRC.
void ExtractLha(const fs::path& archive, const fs::path& out) {
  quern::TUnLha unlha;
  unlha.SetArchiveFile(EnginePath(archive));
  unlha.SetExtractDir(EnginePath(out));
  unlha.SetFileSpec({"*.*"});
  bool failed = false;
  unlha.OnEnd = [&](quern::TComponent*, const std::string&, bool pass) { failed |= !pass; };
  unlha.Extract();
  if (failed) {
    std::fprintf(stderr, "quern_bench: %s did not extract cleanly\n", archive.c_str());
    std::exit(1);
  }
}

class MemoryIo final : public quern::TDecoderIo {
 public:
  explicit MemoryIo(const Bytes& packed) : packed_(packed) {}
  std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) override {
    const std::size_t n = std::min(count, packed_.size() - at_);
    std::copy_n(packed_.data() + at_, n, buffer);
    at_ += n;
    return n;
  }
  void WriteDecoded(std::uint8_t* buffer, std::size_t count) override {
    crc_ = static_cast<std::uint32_t>(crc32_z(crc_, buffer, count));
    written_ += count;
  }
  std::uint32_t crc() const { return crc_; }

 private:
  const Bytes& packed_;
  std::size_t at_ = 0;
  std::size_t written_ = 0;
  std::uint32_t crc_ = 0;
};

int BenchDeflate(const fs::path& work, std::size_t size) {
  const Bytes data = quern::bench::MixedData(size, 1);
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes packed(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);

  Bytes archive;
  quern::bench::AppendBhEntry(archive, "mixed.bin", 8, Crc32(data),
                              static_cast<std::uint32_t>(data.size()), packed);
  quern::bench::WriteFile(work / "deflate.bh", archive);

  const double engine = Best(3, [&] { ExtractBh(work / "deflate.bh", work / "out-deflate"); });
  if (quern::bench::ReadFile(work / "out-deflate" / "mixed.bin") != data) {
    std::fprintf(stderr, "quern_bench: deflate output differs\n");
    return 1;
  }
  Bytes out(data.size());
  const double zlib = Best(3, [&] {
    z_stream i{};
    inflateInit2(&i, -15);
    i.next_in = packed.data();
    i.avail_in = static_cast<uInt>(packed.size());
    i.next_out = out.data();
    i.avail_out = static_cast<uInt>(out.size());
    inflate(&i, Z_FINISH);
    inflateEnd(&i);
  });
  // What any extractor built on zlib does for the same file: inflate in 32 KiB blocks, checksum
  // and write each block.
  const double zlibFile = Best(3, [&] {
    z_stream i{};
    inflateInit2(&i, -15);
    std::FILE* f = std::fopen((work / "zlib-out.bin").c_str(), "wb");
    std::uint32_t crc = 0;
    i.next_in = packed.data();
    i.avail_in = static_cast<uInt>(packed.size());
    for (int rc = Z_OK; rc == Z_OK;) {
      i.next_out = out.data();
      i.avail_out = 32768;
      rc = inflate(&i, Z_NO_FLUSH);
      const std::size_t n = 32768 - i.avail_out;
      crc = static_cast<std::uint32_t>(crc32_z(crc, out.data(), n));
      std::fwrite(out.data(), 1, n, f);
    }
    std::fclose(f);
    inflateEnd(&i);
    if (crc != Crc32(data)) std::exit(1);
  });
  std::printf("deflate  %6.1f MB mixed data, ratio %.2f\n", size / 1e6,
              static_cast<double>(packed.size()) / size);
  std::printf("  engine, BH method 8, file to file, CRC on   %8.1f MB/s\n", MBps(size, engine));
  std::printf("  zlib raw inflate, memory to memory          %8.1f MB/s\n", MBps(size, zlib));
  std::printf("  zlib raw inflate + CRC + write, file         %8.1f MB/s\n", MBps(size, zlibFile));
  std::printf("  engine time / zlib memory time              %8.2f\n", engine / zlib);
  std::printf("  engine time / zlib file time                %8.2f\n", engine / zlibFile);
  return 0;
}

int BenchLzh(const fs::path& work, std::size_t size) {
  const Bytes data = quern::bench::MixedData(size, 2);
  quern::bench::WriteFile(work / "mixed.bin", data);
  std::printf("lzh      %6.1f MB mixed data, packed by jlha\n", size / 1e6);
  struct Row {
    const char* option;
    const char* method;
    quern::LzhParameters coding;
    int bhMethod;  // 0: no BH method uses this coding
  } rows[] = {{"o5", "-lh5-", quern::kLzhLh5, 1},
              {"o6", "-lh6-", quern::kLzhLh6, 3},
              {"o7", "-lh7-", quern::kLzhLh7, 0}};
  for (const Row& row : rows) {
    const fs::path lha = work / (std::string(row.option) + ".lzh");
    fs::remove(lha);
    if (!quern::bench::Shell("cd '" + work.string() + "' && jlha a2" + row.option + "q '" +
                             lha.filename().string() + "' mixed.bin >/dev/null")) {
      std::fprintf(stderr, "quern_bench: jlha failed\n");
      return 1;
    }
    const auto entries = quern::test::ReadLevel2Lha(lha);
    if (entries.size() != 1 || entries[0].method != row.method) {
      std::fprintf(stderr, "quern_bench: jlha did not write %s\n", row.method);
      return 1;
    }
    const Bytes& packed = entries[0].packed;
    std::uint32_t crc = 0;
    const double alone = Best(3, [&] {
      MemoryIo io(packed);
      quern::TLzhDecoder(row.coding).Decode(io, static_cast<std::int64_t>(data.size()));
      crc = io.crc();
    });
    if (crc != Crc32(data)) {
      std::fprintf(stderr, "quern_bench: %s output differs\n", row.method);
      return 1;
    }
    std::printf("  %s decoder alone, memory to memory        %8.1f MB/s\n", row.method,
                MBps(size, alone));
    const double lhaFile = Best(3, [&] { ExtractLha(lha, work / "out-lha"); });
    if (quern::bench::ReadFile(work / "out-lha" / "mixed.bin") != data) {
      std::fprintf(stderr, "quern_bench: %s extraction differs\n", row.method);
      return 1;
    }
    std::printf("  %s LHA archive, file to file, CRC on      %8.1f MB/s\n", row.method,
                MBps(size, lhaFile));
    if (row.bhMethod != 0) {
      Bytes archive;
      quern::bench::AppendBhEntry(archive, "mixed.bin", static_cast<std::uint8_t>(row.bhMethod),
                                  Crc32(data), static_cast<std::uint32_t>(data.size()), packed);
      const fs::path bh = work / (std::string(row.option) + ".bh");
      quern::bench::WriteFile(bh, archive);
      const double engine = Best(3, [&] { ExtractBh(bh, work / "out-lzh"); });
      std::printf("  BH method %d, file to file, CRC on          %8.1f MB/s\n", row.bhMethod,
                  MBps(size, engine));
    }
  }
  return 0;
}

// -lh1-: mixed data packed by the tests' encoder, decoded alone and extracted from an archive.
int BenchLh1(const fs::path& work, std::size_t size) {
  const Bytes data = quern::bench::MixedData(size, 3);
  std::printf("lh1      %6.1f MB mixed data, packed by the tests' -lh1- encoder\n", size / 1e6);
  const Bytes packed = quern::test::EncodeLh1(data);
  std::uint32_t crc = 0;
  const double alone = Best(3, [&] {
    MemoryIo io(packed);
    quern::TLh1Decoder().Decode(io, static_cast<std::int64_t>(data.size()));
    crc = io.crc();
  });
  if (crc != Crc32(data)) {
    std::fprintf(stderr, "quern_bench: -lh1- output differs\n");
    return 1;
  }
  std::printf("  -lh1- decoder alone, memory to memory        %8.1f MB/s\n", MBps(size, alone));
  quern::test::LhaRecord r = quern::test::LhaRecord::Stored(2, "mixed.bin", data);
  r.method = "-lh1-";
  r.packed = packed;
  quern::bench::WriteFile(work / "lh1.lzh", quern::test::BuildLhaArchive({r}));
  const double lhaFile = Best(3, [&] { ExtractLha(work / "lh1.lzh", work / "out-lh1"); });
  if (quern::bench::ReadFile(work / "out-lh1" / "mixed.bin") != data) {
    std::fprintf(stderr, "quern_bench: -lh1- extraction differs\n");
    return 1;
  }
  std::printf("  -lh1- LHA archive, file to file, CRC on      %8.1f MB/s\n", MBps(size, lhaFile));
  return 0;
}

int Lh1Archive(const fs::path& out, const std::vector<fs::path>& files) {
  std::vector<quern::test::LhaRecord> records;
  for (const fs::path& file : files) {
    quern::test::LhaRecord r =
        quern::test::LhaRecord::Stored(2, file.filename().string(), quern::bench::ReadFile(file));
    r.method = "-lh1-";
    r.packed = quern::test::EncodeLh1(r.data);
    records.push_back(std::move(r));
  }
  quern::bench::WriteFile(out, quern::test::BuildLhaArchive(records));
  return 0;
}

// -lh4- has no BH method and our packer does not write it: the long -lh4- entry of a peer's test
// archive (level-0 header), decoded repeatedly.
void BenchLh4() {
  const fs::path archive =
      fs::path(QUERN_SOURCE_DIR) / "../shared/corpus/lha-peer/archives/lha_amiga_122/lh4_long.lzh";
  if (!fs::exists(archive)) {
    std::printf("  -lh4- sample not found, skipped\n");
    return;
  }
  const Bytes file = quern::bench::ReadFile(archive);
  const std::size_t headerSize = file[0];
  auto le32 = [&file](std::size_t at) {
    return std::uint32_t{file[at]} | std::uint32_t{file[at + 1]} << 8 |
           std::uint32_t{file[at + 2]} << 16 | std::uint32_t{file[at + 3]} << 24;
  };
  const std::uint32_t packedSize = le32(7);
  const std::uint32_t unpackedSize = le32(11);
  const Bytes packed(file.begin() + static_cast<std::ptrdiff_t>(headerSize + 2),
                     file.begin() + static_cast<std::ptrdiff_t>(headerSize + 2 + packedSize));
  constexpr int kRepeats = 10;
  const double seconds = Best(3, [&] {
    for (int i = 0; i < kRepeats; ++i) {
      MemoryIo io(packed);
      quern::TLzhDecoder(quern::kLzhLh4).Decode(io, unpackedSize);
    }
  });
  std::printf("  -lh4- decoder alone (%.1f MB peer sample x %d)  %8.1f MB/s\n", unpackedSize / 1e6,
              kRepeats, MBps(static_cast<std::size_t>(unpackedSize) * kRepeats, seconds));
}

int BhFromLha(const fs::path& lha, const fs::path& sources, const fs::path& out) {
  Bytes archive;
  for (const auto& e : quern::test::ReadLevel2Lha(lha)) {
    const int method = e.method == "-lh5-" ? 1 : e.method == "-lh6-" ? 3 : -1;
    if (method < 0) {
      std::fprintf(stderr, "quern_bench: %s: %s has no BH coding\n", e.name.c_str(),
                   e.method.c_str());
      return 1;
    }
    const Bytes original = quern::bench::ReadFile(sources / e.name);
    quern::bench::AppendBhEntry(archive, e.name, static_cast<std::uint8_t>(method), Crc32(original),
                                e.unpackedSize, e.packed);
  }
  quern::bench::WriteFile(out, archive);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "lh1-lzh")
    return Lh1Archive(argv[2], std::vector<fs::path>(argv + 3, argv + argc));
  if (argc == 5 && std::string(argv[1]) == "bh-from-lha")
    return BhFromLha(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::string(argv[1]) == "hostile") {
    Bytes archive;
    const Bytes junk = quern::bench::MixedData(4096, 9);
    for (const std::uint8_t method : {0, 1, 3, 8})
      quern::bench::AppendBhEntry(archive, "claims-4GiB-" + std::to_string(method) + ".bin", method,
                                  0x12345678, 0xFFFFFFFFu, junk);
    quern::bench::AppendBhEntry(archive, "..\\..\\escape.bin", 0, 0, 4096, junk);
    quern::bench::WriteFile(argv[2], archive);
    return 0;
  }
  if (argc >= 4 && std::string(argv[1]) == "mixed") {
    const auto seed =
        argc > 4 ? static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 1u;
    quern::bench::WriteFile(
        argv[3], quern::bench::MixedData(std::strtoul(argv[2], nullptr, 10) * 1000 * 1000, seed));
    return 0;
  }
  const std::size_t deflateMb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const std::size_t lzhMb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 16;

  std::string pattern = (fs::temp_directory_path() / "quern-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path work = pattern;
  int rc = BenchDeflate(work, deflateMb * 1000 * 1000);
  if (rc == 0) rc = BenchLzh(work, lzhMb * 1000 * 1000);
  if (rc == 0) BenchLh4();
  if (rc == 0) rc = BenchLh1(work, lzhMb * 1000 * 1000);
  fs::remove_all(work);
  return rc;
}
