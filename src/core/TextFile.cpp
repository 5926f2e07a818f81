#include "TextFile.h"

#include "Cp1251.h"
#include "StoredText.h"
#include "SystemServices.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace pelmbus {

namespace fs = std::filesystem;

namespace {

// Paths are UTF-8 in the program; a char8_t path is taken as UTF-8 on every
// platform (a char path is the ANSI code page on Windows).
fs::path PathFromUtf8(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8FromPath(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

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

TTextFileRead ReadTextFile(const std::string& path, std::vector<std::string>& lines) {
    const fs::path file = PathFromUtf8(path);
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        return TTextFileRead::Missing;
    }
    if (ec || status.type() != fs::file_type::regular) {
        return TTextFileRead::Unreadable;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return TTextFileRead::Unreadable;
    }
    std::string bytes;
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return TTextFileRead::Unreadable;
    }
    lines = SplitTextLines(DecodeStoredText(bytes));
    return TTextFileRead::Read;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
    return ReadTextFile(path, lines) == TTextFileRead::Read;
}

namespace {

// More links in a row than this are taken for a loop.
constexpr int MaxLinkHops = 40;

// The file a save must replace: path itself, or the end of the chain of
// symbolic links that starts there (which may not exist yet).
bool FollowLinks(const fs::path& path, fs::path& target, std::string& failure) {
    target = path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(target, ec)) {
            return true;
        }
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) {
            failure = "не удалось прочитать символическую ссылку: " + ec.message();
            return false;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    failure = "слишком длинная цепочка символических ссылок";
    return false;
}

std::string Describe(const std::error_code& error) {
    if (error == std::errc::no_space_on_device) {
        return "нет места на диске";
    }
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
        return "нет права записи в папку файла";
    }
    if (error == std::errc::read_only_file_system) {
        return "диск доступен только для чтения";
    }
    return error.message();
}

} // namespace

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines,
                    std::string& failure) {
    std::string bytes;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find_first_of("\r\n") != std::string::npos) {
            failure = "строка " + std::to_string(i + 1) + " содержит перевод строки";
            return false;
        }
        bytes += Utf8ToCp1251(lines[i]);
        bytes += "\r\n";
    }
    fs::path target;
    if (!FollowLinks(PathFromUtf8(path), target, failure)) {
        return false;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (status.type() != fs::file_type::not_found) {
        if (ec) {
            failure = Describe(ec);
            return false;
        }
        if (status.type() != fs::file_type::regular) {
            failure = "по этому пути находится не обычный файл";
            return false;
        }
        // The operator's mark: a privileged process must honour it too.
        if (FileIsReadOnly(Utf8FromPath(target))) {
            failure = "файл доступен только для чтения";
            return false;
        }
    }
    if (const std::error_code error = ReplaceFileContents(Utf8FromPath(target), bytes)) {
        failure = Describe(error);
        return false;
    }
    return true;
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string failure;
    return WriteTextLines(path, lines, failure);
}

} // namespace pelmbus
