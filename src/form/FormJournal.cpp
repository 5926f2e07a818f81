#include "FormJournal.h"

#include "InOutPort.h"

#include <filesystem>
#include <system_error>

namespace pelmbus {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string ProgramName(bool clientProgram) {
    return clientProgram ? "CltPel.exe" : "Pel.exe";
}

// Why a file that exists could not be read, as far as can be told now.
std::string UnreadableReason(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status =
        fs::status(fs::path(std::u8string(path.begin(), path.end())), error);
    if (error) {
        return error.message();
    }
    if (status.type() != fs::file_type::regular) {
        return "это не обычный файл";
    }
    return "нет доступа на чтение";
}

} // namespace

TFormJournal::TFormJournal(std::function<uint32_t()> tickCount)
    : FTickCount(std::move(tickCount)),
      FRefreshFailures("Ошибка обновления данных",
                       [this](const std::string& event) { Record(event); }) {}

void TFormJournal::Record(const std::string& event) {
    if (Sink != nullptr) {
        Sink->Record(event);
    }
}

void TFormJournal::Started(const std::string& version, const TInOutPort& port) {
    FExchangeSince = FTickCount();
    Record("Запуск: " + version + ", порт " + Quoted(port.StrPort) + ", адрес " +
           std::to_string(port.SlaveNomer) + ", задержка ответа " +
           std::to_string(port.ZaderOtveta) + " мс, источник данных " +
           ProgramName(port.ServerPel) + ", связь с программой " +
           (port.DataFlags[9] ? "включена" : "выключена"));
}

void TFormJournal::FileLoaded(const std::string& what, const std::string& path, TTextFileRead read,
                              const std::string& defaults) {
    switch (read) {
    case TTextFileRead::Read:
        Record(what + " " + Quoted(path) + " прочитан");
        break;
    case TTextFileRead::Missing:
        Record(what + " " + Quoted(path) + " не найден: " + defaults +
               ", при закрытии он будет создан заново");
        break;
    case TTextFileRead::Unreadable:
        Record(what + " " + Quoted(path) + " не удалось прочитать (" + UnreadableReason(path) +
               "): " + defaults + ", файл оставлен без изменений");
        break;
    }
}

void TFormJournal::PortOpened(const TInOutPort& port, bool byOperator) {
    const std::string how = byOperator ? " заново по команде оператора" : "";
    if (port.PortOpen) {
        Record("Порт " + Quoted(port.StrPort) + " открыт" + how);
    } else {
        Record("Порт " + Quoted(port.StrPort) + " не удалось открыть" + how + ": " +
               (port.OpenFailure.empty() ? "причина неизвестна" : port.OpenFailure));
    }
}

void TFormJournal::PortChangedByReceiveThread(const TInOutPort& port) {
    Record("Порт " + Quoted(port.StrPort) +
           (port.PortOpen ? " открыт снова" : " закрыт: устройство пропало, открывается снова"));
}

void TFormJournal::LinkConnected(const std::string& program, bool started) {
    Record("Связь с программой " + program + " установлена" +
           (LinkCause == TLinkCause::Watchdog ? " заново" : "") +
           (started ? ", программа запущена" : ", программа уже работала"));
}

void TFormJournal::LinkConnectFailed(const std::string& program, const std::string& error,
                                     bool unticked) {
    Record("Не удалось установить связь с программой " + program + ": " + error +
           (unticked ? "; флажок \"Сервер ПЕЛ\" снят, связь больше не устанавливается" : ""));
}

void TFormJournal::LinkDisconnected(const std::string& program) {
    std::string how;
    switch (LinkCause) {
    case TLinkCause::Operator:
        how = " оператором";
        break;
    case TLinkCause::Watchdog:
        how = " сторожевым таймером";
        break;
    case TLinkCause::Close:
        how = " при закрытии";
        break;
    case TLinkCause::Start:
        break;
    }
    Record("Связь с программой " + program + " разорвана" + how);
}

void TFormJournal::LinkDisconnectFailed(const std::string& program, const std::string& error) {
    Record("Не удалось разорвать связь с программой " + program + ": " + error);
}

void TFormJournal::WatchdogReconnect(const std::string& program, uint32_t silentMs) {
    Record("Нет отчетов от программы " + program + " " + std::to_string(silentMs / 1000) +
           " с: связь устанавливается заново");
}

void TFormJournal::RefreshFailed(const std::string& errorText) {
    FRefreshFailures.Failure(errorText, FTickCount());
}

void TFormJournal::RefreshSucceeded() {
    FRefreshFailures.Success();
}

void TFormJournal::SaveFailed(const std::string& text) {
    Record(text);
}

void TFormJournal::Periodic(ExchangeCounters& counters) {
    const uint32_t now = FTickCount();
    FRefreshFailures.Check(now);
    if (now - FExchangeSince >= ExchangePeriodMs) {
        FRefreshFailures.Flush();
        WriteExchange(counters, now);
    }
}

void TFormJournal::Closed(ExchangeCounters& counters) {
    FRefreshFailures.Flush();
    WriteExchange(counters, FTickCount());
    switch (CloseCause) {
    case TCloseCause::Window:
        Record("Программа закрыта из окна");
        break;
    case TCloseCause::Signal:
        Record("Программа закрыта по сигналу");
        break;
    case TCloseCause::Shutdown:
        Record("Программа закрыта при завершении работы системы");
        break;
    }
}

void TFormJournal::WriteExchange(ExchangeCounters& counters, uint32_t now) {
    const uint32_t minutes = (now - FExchangeSince + 30000) / 60000;
    FExchangeSince = now;
    Record("Обмен за " + std::to_string(minutes) +
           " мин: " + DescribeExchange(counters.Take(), DecimalSeparator));
}

} // namespace pelmbus
