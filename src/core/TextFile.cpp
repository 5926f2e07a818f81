#include "TextFile.h"

#include "Cp1251.h"
#include "SystemServices.h"

#include <filesystem>
#include <fstream>
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
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
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
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".tmp";
    std::error_code ec;
    // A leftover of an interrupted save is replaced, never written through.
    if (fs::is_symlink(temporary, ec) || fs::is_regular_file(temporary, ec)) {
        fs::remove(temporary, ec);
    }
    const auto fail = [&] {
        fs::remove(temporary, ec);
        return false;
    };
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        out.close();
        if (out.fail()) {
            return fail();
        }
    }
    if (!FlushFileToDisk(temporary.string())) {
        return fail();
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        return fail();
    }
    return true;
}

} // namespace pelmbus
