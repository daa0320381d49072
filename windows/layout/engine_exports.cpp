#include "engine_exports.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace {

// Every offset below comes from the file: each read is checked against its size.
struct Image {
    std::vector<unsigned char> bytes;

    bool has(uint64_t offset, uint64_t size) const {
        return offset <= bytes.size() && size <= bytes.size() - offset;
    }
    uint32_t u16(uint64_t offset) const { return bytes[offset] | bytes[offset + 1] << 8; }
    uint32_t u32(uint64_t offset) const { return u16(offset) | u16(offset + 2) << 16; }
};

struct Section {
    uint32_t address, raw_size, raw_offset;
};

// The file offset of a relative virtual address, if a section's data holds it.
std::optional<uint64_t> file_offset(const std::vector<Section>& sections, uint32_t address) {
    for (const Section& section : sections)
        if (address >= section.address && address - section.address < section.raw_size)
            return uint64_t{section.raw_offset} + (address - section.address);
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::string>> library_exports(const std::filesystem::path& library) {
    std::ifstream in(library, std::ios::binary);
    if (!in)
        return std::nullopt;
    Image image{{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}};
    if (!image.has(0, 64) || image.u16(0) != 0x5A4D) // "MZ"
        return std::nullopt;
    const uint64_t pe = image.u32(0x3C);
    if (!image.has(pe, 24) || image.u32(pe) != 0x00004550) // "PE\0\0"
        return std::nullopt;
    const uint32_t section_count = image.u16(pe + 6);
    const uint32_t optional_size = image.u16(pe + 20);
    const uint64_t optional = pe + 24;
    if (!image.has(optional, optional_size) || optional_size < 2)
        return std::nullopt;
    // PE32 and PE32+ differ in where their data directories start.
    const uint32_t magic = image.u16(optional);
    const uint64_t directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
    if (directories == 0 || optional_size < directories)
        return std::nullopt;
    const uint32_t directory_count = image.u32(optional + directories - 4);
    if (directory_count == 0 || optional_size < directories + 8)
        return std::vector<std::string>{};
    const uint32_t export_address = image.u32(optional + directories);
    if (export_address == 0)
        return std::vector<std::string>{};

    std::vector<Section> sections;
    const uint64_t table = optional + optional_size;
    if (!image.has(table, uint64_t{section_count} * 40))
        return std::nullopt;
    for (uint32_t i = 0; i < section_count; ++i) {
        uint64_t entry = table + uint64_t{i} * 40;
        sections.push_back({image.u32(entry + 12), image.u32(entry + 16), image.u32(entry + 20)});
    }

    auto directory = file_offset(sections, export_address);
    if (!directory || !image.has(*directory, 40))
        return std::nullopt;
    const uint32_t name_count = image.u32(*directory + 24);
    auto names = file_offset(sections, image.u32(*directory + 32));
    if (name_count == 0)
        return std::vector<std::string>{};
    if (!names || !image.has(*names, uint64_t{name_count} * 4))
        return std::nullopt;
    std::vector<std::string> exported;
    for (uint32_t i = 0; i < name_count; ++i) {
        auto name = file_offset(sections, image.u32(*names + uint64_t{i} * 4));
        if (!name)
            return std::nullopt;
        std::string text;
        for (uint64_t at = *name;; ++at) {
            if (!image.has(at, 1))
                return std::nullopt;
            if (image.bytes[at] == 0)
                break;
            text += static_cast<char>(image.bytes[at]);
        }
        exported.push_back(std::move(text));
    }
    return exported;
}
