#include "ExchangeCounters.h"

#include <algorithm>
#include <numeric>

namespace pelmbus {

uint64_t ExchangeFigures::ExceptionsSent() const {
    return std::accumulate(Exceptions.begin(), Exceptions.end(), uint64_t{0});
}

bool ExchangeFigures::Empty() const {
    return Answered == 0 && ExceptionsSent() == 0 && OtherAddress == 0 && BadCrc == 0 &&
           WrongLength == 0;
}

void ExchangeCounters::CountException(uint8_t code) {
    // Codes outside the Modbus range share the last slot.
    Add(FExceptions[std::min<size_t>(code, ExchangeFigures::ExceptionCodes - 1)]);
}

void ExchangeCounters::NoteBeyondPauses(std::chrono::microseconds beyond) {
    const int64_t value = beyond.count();
    int64_t longest = FLongestBeyondUs.load(std::memory_order_relaxed);
    while (value > longest &&
           !FLongestBeyondUs.compare_exchange_weak(longest, value, std::memory_order_relaxed)) {
    }
}

ExchangeFigures ExchangeCounters::Take() {
    const auto take = [](std::atomic<uint64_t>& counter) {
        return counter.exchange(0, std::memory_order_relaxed);
    };
    ExchangeFigures figures;
    figures.Answered = take(FAnswered);
    for (size_t code = 0; code < FExceptions.size(); ++code) {
        figures.Exceptions[code] = take(FExceptions[code]);
    }
    figures.OtherAddress = take(FOtherAddress);
    figures.BadCrc = take(FBadCrc);
    figures.WrongLength = take(FWrongLength);
    figures.LongestBeyondPauses =
        std::chrono::microseconds(FLongestBeyondUs.exchange(0, std::memory_order_relaxed));
    return figures;
}

std::string DescribeExchange(const ExchangeFigures& figures, const std::string& decimalSeparator) {
    std::string text = "ответов на запросы " + std::to_string(figures.Answered);
    text += ", исключений " + std::to_string(figures.ExceptionsSent());
    std::string byCode;
    for (size_t code = 0; code < figures.Exceptions.size(); ++code) {
        if (figures.Exceptions[code] > 0) {
            byCode += (byCode.empty() ? "" : ", ") + std::string("код ") + std::to_string(code) +
                      " - " + std::to_string(figures.Exceptions[code]);
        }
    }
    if (!byCode.empty()) {
        text += " (" + byCode + ")";
    }
    text += ", кадров для других адресов " + std::to_string(figures.OtherAddress);
    text += ", отброшено кадров: с неверной CRC " + std::to_string(figures.BadCrc) +
            ", неверной длины " + std::to_string(figures.WrongLength);
    const int64_t tenths = (figures.LongestBeyondPauses.count() + 50) / 100;
    text += ", наибольшая задержка ответа сверх пауз " + std::to_string(tenths / 10) +
            decimalSeparator + std::to_string(tenths % 10) + " мс";
    return text;
}

} // namespace pelmbus
