#include "bench/bench_data.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quern::bench {

namespace {

class Random {
 public:
  explicit Random(std::uint32_t seed) : x_(seed * 2654435761u + 0x9E3779B9u) {}
  std::uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint32_t x_;
};

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

Bytes MixedData(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {
      "materi", "bahasa",  "latihan",  "the",  "of",    "and",    "lesson",   "course",  "student",
      "page",   "chapter", "exercise", "read", "write", "answer", "question", "teacher", "book",
      "untuk",  "dengan",  "yang",     "dan",  "ini",   "adalah", "contoh",   "soal",    "jawaban"};
  Random r(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    switch (r.Below(4)) {
      case 0:  // prose
        for (int i = 0, n = 200 + static_cast<int>(r.Below(2000)); i < n; ++i) {
          const char* w = kWords[r.Below(sizeof kWords / sizeof *kWords)];
          out.insert(out.end(), w, w + std::char_traits<char>::length(w));
          out.push_back(r.Below(12) == 0 ? '\n' : ' ');
        }
        break;
      case 1:  // a table of numbers
        for (int i = 0, n = 50 + static_cast<int>(r.Below(400)); i < n; ++i) {
          const std::string row = std::to_string(i) + ";" + std::to_string(r.Below(100000)) + ";" +
                                  std::to_string(r.Below(1000)) + "\r\n";
          out.insert(out.end(), row.begin(), row.end());
        }
        break;
      case 2:  // structured binary records
        for (int i = 0, n = 100 + static_cast<int>(r.Below(1500)); i < n; ++i) {
          Put32(out, 0x00400000u + static_cast<std::uint32_t>(i) * 16);
          Put16(out, r.Below(64));
          Put16(out, 0);
          Put32(out, r.Below(256) << 8);
          Put32(out, 0xFFFFFFFFu - r.Below(16));
        }
        break;
      default:  // noise, as in pictures already compressed
        for (int i = 0, n = 256 + static_cast<int>(r.Below(8192)); i < n; ++i)
          out.push_back(static_cast<std::uint8_t>(r.Next() >> 24));
        break;
    }
  }
  out.resize(size);
  return out;
}

void AppendBhEntry(Bytes& archive, const std::string& name, std::uint8_t method,
                   std::uint32_t crc32, std::uint32_t unpackedSize, const Bytes& packed) {
  Put32(archive, 0x07054842);
  Put16(archive, 0x25);
  archive.push_back(0);
  archive.push_back(3);  // version
  archive.push_back(0);
  archive.push_back(0);  // flags
  archive.push_back(method);
  Put32(archive, (44u << 25) | (6u << 21) | (1u << 16));  // 1 June 2024
  Put32(archive, static_cast<std::uint32_t>(packed.size()));
  Put32(archive, unpackedSize);
  Put32(archive, crc32);
  Put16(archive, 0x20);
  Put32(archive, 0);
  Put16(archive, static_cast<std::uint32_t>(name.size()));
  Put16(archive, 0);
  archive.insert(archive.end(), name.begin(), name.end());
  archive.insert(archive.end(), packed.begin(), packed.end());
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

}  // namespace quern::bench
