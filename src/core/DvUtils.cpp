#include "DvUtils.h"

namespace pelmbus {

namespace {

constexpr char Backspace = 8;
constexpr char CarriageReturn = 13;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

void NumKeyFilter(const std::string& text, char& key, const TFormatSettings& format) {
    const bool separatorKey =
        (key == ',' || key == '.') && format.ThousandSeparator != std::string(1, key);
    if (separatorKey) {
        // Only a one-byte separator can be typed as one key.
        const std::string& decimal = format.DecimalSeparator;
        key = decimal.size() == 1 ? decimal[0] : '\0';
        if (decimal.empty() || text.find(decimal) != std::string::npos) {
            key = '\0';
        }
        return;
    }
    const bool accepted = key == Backspace || key == CarriageReturn || key == '+' || key == '-' ||
                          (key >= '0' && key <= '9');
    if (!accepted) {
        key = '\0';
    }
}

void SkipFields(const std::string& line, int n, int& position, char delimiter) {
    const int length = static_cast<int>(line.size());
    const auto at = [&](int pos) { return line[static_cast<std::size_t>(pos - 1)]; };
    for (int i = 0; i < n; ++i) {
        while (position <= length && at(position) == delimiter) {
            ++position;
        }
        while (position <= length && at(position) != delimiter) {
            ++position;
        }
        while (position <= length && at(position) == delimiter) {
            ++position;
        }
    }
}

std::string ExtractField(const std::string& line, int index, int count, char delimiter) {
    if (line.empty() || line[0] == ';' || index <= 0 || count <= 0) {
        return {};
    }
    int start = 1;
    if (index > 1) {
        SkipFields(line, index - 1, start, delimiter);
    }
    int stop = start;
    SkipFields(line, count, stop, delimiter);
    std::string result = TrimBlanks(
        line.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(stop - start)));
    if (!result.empty() && result.back() == delimiter) {
        result.pop_back();
    }
    if (!result.empty() && result.front() == delimiter) {
        result.erase(0, 1);
    }
    return result;
}

std::string TrimBlanks(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first])) {
        ++first;
    }
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::string TrimLeftBlanks(const std::string& text) {
    std::size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) {
        ++first;
    }
    return text.substr(first);
}

} // namespace pelmbus
