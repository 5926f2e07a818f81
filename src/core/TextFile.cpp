#include "TextFile.h"

#include "Cp1251.h"
#include "SystemServices.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace pelmbus {

namespace fs = std::filesystem;

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c != '\r' && c != '\n') {
            ++pos;
            continue;
        }
        lines.emplace_back(text.substr(start, pos - start));
        pos += (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        start = pos;
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
    // Paths are UTF-8 in the program; a char8_t path is taken as UTF-8 on
    // every platform (a char path is the ANSI code page on Windows).
    const fs::path file(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string bytes;
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return false;
    }
    lines = SplitTextLines(Cp1251ToUtf8(bytes));
    return true;
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += Utf8ToCp1251(line);
        bytes += "\r\n";
    }
    return ReplaceFileContents(path, bytes);
}

} // namespace pelmbus
