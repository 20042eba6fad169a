#include "ShellLinkBuilder.h"

#include <array>
#include <fstream>

namespace {

constexpr std::array<std::uint8_t, 16> kLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

std::u16string utf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        char32_t code = lead;
        std::size_t length = 1;
        if (lead >= 0xF0) {
            code = lead & 0x07U;
            length = 4;
        } else if (lead >= 0xE0) {
            code = lead & 0x0FU;
            length = 3;
        } else if (lead >= 0xC0) {
            code = lead & 0x1FU;
            length = 2;
        }
        for (std::size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3FU);
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

void putAnsiZ(std::vector<std::uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void putUnicodeZ(std::vector<std::uint8_t>& out, const std::string& text) {
    for (const char16_t unit : utf16(text)) {
        put16(out, unit);
    }
    put16(out, 0);
}

}  // namespace

std::size_t ShellLinkBuilder::linkInfoOffset() const {
    return 0x4C + (idListSize ? 2 + *idListSize : 0);
}

std::size_t ShellLinkBuilder::stringDataOffset() const {
    std::vector<std::uint8_t> bytes = build();
    std::size_t offset = linkInfoOffset();
    if (localBasePath || localBasePathUnicode) {
        offset += bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16);
    }
    return offset;
}

std::vector<std::uint8_t> ShellLinkBuilder::build() const {
    const bool hasLinkInfo = localBasePath.has_value() || localBasePathUnicode.has_value();
    std::uint32_t flags = 0;
    flags |= idListSize ? 0x01U : 0U;
    flags |= hasLinkInfo ? 0x02U : 0U;
    flags |= name ? 0x04U : 0U;
    flags |= relativePath ? 0x08U : 0U;
    flags |= unicode ? 0x80U : 0U;
    flags |= forceNoLinkInfo ? 0x100U : 0U;

    std::vector<std::uint8_t> out;
    put32(out, 0x4C);
    out.insert(out.end(), kLinkClsid.begin(), kLinkClsid.end());
    put32(out, flags);
    put32(out, 0x20);                   // FILE_ATTRIBUTE_ARCHIVE
    out.resize(out.size() + 24, 0x11);  // creation, access and write times
    put32(out, 1234);                   // file size
    put32(out, 0);                      // icon index
    put32(out, 1);                      // SW_SHOWNORMAL
    put16(out, 0);                      // hot key
    out.resize(0x4C, 0);

    if (idListSize) {
        put16(out, static_cast<std::uint32_t>(*idListSize));
        for (std::size_t i = 0; i < *idListSize; ++i) {
            out.push_back(static_cast<std::uint8_t>(0xA0 + i % 16));
        }
    }

    if (hasLinkInfo) {
        const std::size_t start = out.size();
        const bool wide = localBasePathUnicode.has_value();
        const std::uint32_t headerSize = wide ? 0x24 : 0x1C;
        put32(out, 0);  // LinkInfoSize, set below
        put32(out, headerSize);
        put32(out, 0x01);  // VolumeIDAndLocalBasePath
        for (int i = 0; i < 4; ++i) {
            put32(out, 0);  // offsets, set below
        }
        if (wide) {
            put32(out, 0);
            put32(out, 0);
        }
        set32(out, start + 12, static_cast<std::uint32_t>(out.size() - start));
        // VolumeID: size, DRIVE_FIXED, serial number, label offset, empty label.
        put32(out, 0x11);
        put32(out, 3);
        put32(out, 0x1234ABCD);
        put32(out, 0x10);
        out.push_back(0);
        set32(out, start + 16, static_cast<std::uint32_t>(out.size() - start));
        putAnsiZ(out, localBasePath.value_or(""));
        set32(out, start + 24, static_cast<std::uint32_t>(out.size() - start));
        putAnsiZ(out, commonPathSuffix);
        if (wide) {
            set32(out, start + 28, static_cast<std::uint32_t>(out.size() - start));
            putUnicodeZ(out, *localBasePathUnicode);
            set32(out, start + 32, static_cast<std::uint32_t>(out.size() - start));
            putUnicodeZ(out, commonPathSuffix);
        }
        set32(out, start, static_cast<std::uint32_t>(out.size() - start));
    }

    for (const auto* field : {&name, &relativePath}) {
        if (!field->has_value()) {
            continue;
        }
        if (unicode) {
            const std::u16string text = utf16(**field);
            put16(out, static_cast<std::uint32_t>(text.size()));
            for (const char16_t unit : text) {
                put16(out, unit);
            }
        } else {
            put16(out, static_cast<std::uint32_t>((*field)->size()));
            out.insert(out.end(), (*field)->begin(), (*field)->end());
        }
    }
    out.insert(out.end(), extraData.begin(), extraData.end());
    return out;
}

void ShellLinkBuilder::writeTo(const std::string& path) const {
    const std::vector<std::uint8_t> bytes = build();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}
