// Inputs for the benchmarks: mixed text and binary data like real course material, and the
// packed payloads real encoders make of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quern::bench {

using Bytes = std::vector<std::uint8_t>;

// `size` bytes alternating between prose-like text, tables of numbers, structured binary
// records and short stretches of noise; the same bytes for the same seed.
Bytes MixedData(std::size_t size, std::uint32_t seed = 1);

// One BH entry header and name followed by its packed data.
void AppendBhEntry(Bytes& archive, const std::string& name, std::uint8_t method,
                   std::uint32_t crc32, std::uint32_t unpackedSize, const Bytes& packed);

Bytes ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
// Runs a shell command; false when it failed.
bool Shell(const std::string& command);

}  // namespace quern::bench
