// A form host without a window system: records what the window shows and
// queues what it posts, for the test to deliver.
#pragma once

#include "DateTimeText.h"
#include "FileTestSupport.h"
#include "FormHost.h"
#include "IdleMeteringLink.h"
#include "UPelMBus.h"

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pelmbus::testsupport {

class FakeFormHost : public TFormHost {
public:
    void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        Posted.push_back({message, wParam, lParam});
    }
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    void ShowError(const std::string& text) override { Errors.push_back(text); }
    uint32_t TickCount() override { return Tick; }
    TLocalDateTime Now() override { return Time; }
    std::string ExecutableDirectory() override { return Directory; }
    TFormatSettings FormatSettings() override { return Format; }
    void PostToMainThread(std::function<void()> work) override {
        std::lock_guard lock(FMainThreadMutex);
        FMainThreadWork.push_back(std::move(work));
    }
    std::unique_ptr<MeteringLink> CreateAutoPel() override {
        return std::make_unique<IdleMeteringLink>();
    }
    std::unique_ptr<MeteringLink> CreateAutoCltPel() override {
        return std::make_unique<IdleMeteringLink>();
    }

    // Delivers the posted messages to the window, as its loop would.
    void DeliverMessages(TFPelMBus& form) {
        while (!Posted.empty()) {
            const auto posted = Posted.front();
            Posted.pop_front();
            if (posted.Id == WM_MBUSDATA) {
                form.RunGuarded([&] { form.WMMBusData(posted.WParam, posted.LParam); });
            }
        }
    }
    // Runs what the receive thread handed to the main thread; returns how
    // many pieces of work ran.
    int RunMainThreadWork() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(FMainThreadMutex);
            work.swap(FMainThreadWork);
        }
        for (auto& item : work) {
            item();
        }
        return static_cast<int>(work.size());
    }

    struct Message {
        uint32_t Id;
        uintptr_t WParam;
        intptr_t LParam;
    };
    std::deque<Message> Posted;
    std::vector<std::string> Messages;
    std::vector<std::string> Errors;
    uint32_t Tick = 0;
    TLocalDateTime Time{2024, 3, 5, 19, 8, 9, 250};
    std::string Directory;
    TFormatSettings Format;

private:
    std::mutex FMainThreadMutex;
    std::deque<std::function<void()>> FMainThreadWork;
};

// A fresh directory standing in for the executable's, removed afterwards.
class TempDirectory {
public:
    TempDirectory() : Path(Dir.Path()) {}

private:
    testing_files::TempDir Dir;

public:
    std::string Path;
};

} // namespace pelmbus::testsupport
