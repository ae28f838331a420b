#pragma once
// Byte-level access to "setting.ini" and to the record in memory, for the
// tests that check the file byte for byte.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "settings/SettingsRecord.h"

inline std::vector<char> ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& file, const std::vector<char>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<char> RecordBytes()
{
    const char* begin = reinterpret_cast<const char*>(&settings);
    return {begin, begin + sizeof settings};
}
