// The window's events in the journal: their texts, the folding of report
// refresh failures and the exchange line every hour and at close. Without a
// sink (tests that do not look at the journal) nothing is written.
#pragma once

#include "ExchangeCounters.h"
#include "FailureFold.h"
#include "Journal.h"
#include "TextFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pelmbus {

class TInOutPort;

// Why the link is connected or dropped at the moment.
enum class TLinkCause { Start, Operator, Watchdog, Close };

// How the program is being closed; the program sets it before the close.
enum class TCloseCause { Window, Signal, Shutdown };

class TFormJournal {
public:
    static constexpr uint32_t ExchangePeriodMs = 60u * 60u * 1000u;

    explicit TFormJournal(std::function<uint32_t()> tickCount);

    JournalSink* Sink = nullptr;
    TLinkCause LinkCause = TLinkCause::Start;
    TCloseCause CloseCause = TCloseCause::Window;
    std::string DecimalSeparator = ",";

    void Record(const std::string& event);

    void Started(const std::string& version, const TInOutPort& port);
    // `what` names the file ("Файл настроек"); `defaults` what the program
    // uses instead of a file it did not read.
    void FileLoaded(const std::string& what, const std::string& path, TTextFileRead read,
                    const std::string& defaults);
    void PortOpened(const TInOutPort& port, bool byOperator);
    // The receive thread closed a device that had gone, or opened the port
    // again by itself.
    void PortChangedByReceiveThread(const TInOutPort& port);
    void LinkConnected(const std::string& program, bool started);
    void LinkConnectFailed(const std::string& program, const std::string& error, bool unticked);
    void LinkDisconnected(const std::string& program);
    void LinkDisconnectFailed(const std::string& program, const std::string& error);
    void WatchdogReconnect(const std::string& program, uint32_t silentMs);
    void RefreshFailed(const std::string& errorText);
    void RefreshSucceeded();
    void SaveFailed(const std::string& text);
    // Every minute: ends a run of refresh failures that stopped, and writes
    // the exchange line once an hour has passed.
    void Periodic(ExchangeCounters& counters);
    // The last exchange line and the close.
    void Closed(ExchangeCounters& counters);

private:
    void WriteExchange(ExchangeCounters& counters, uint32_t now);

    std::function<uint32_t()> FTickCount;
    FailureFold FRefreshFailures;
    uint32_t FExchangeSince = 0;
};

// The link's cause for one handler; a handler that runs inside another one
// (the box's click while the watchdog unticks it) restores the outer cause.
class TLinkCauseScope {
public:
    TLinkCauseScope(TFormJournal& journal, TLinkCause cause)
        : FJournal(journal), FOuter(journal.LinkCause) {
        journal.LinkCause = cause;
    }
    ~TLinkCauseScope() { FJournal.LinkCause = FOuter; }
    TLinkCauseScope(const TLinkCauseScope&) = delete;
    TLinkCauseScope& operator=(const TLinkCauseScope&) = delete;

private:
    TFormJournal& FJournal;
    TLinkCause FOuter;
};

} // namespace pelmbus
