// What the fuzz targets share: a private scratch directory for the input file and the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quern::fuzz {

// A directory made once per process and emptied before each input.
const std::filesystem::path& Scratch();
void ResetScratch();
// Writes the input to a file in the scratch directory; its engine ("\") form.
std::string WriteInput(const std::uint8_t* data, std::size_t size, const char* name);

}  // namespace quern::fuzz
