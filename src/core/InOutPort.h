// TInOutPort: the one component that carries the Modbus slave — settings,
// register and float images, request handling, the serial channel with its
// receive thread, the averaging state and the configuration lines.
#pragma once

#include "CommDevice.h"
#include "ExchangeCounters.h"
#include "Looker.h"
#include "SystemServices.h"
#include "TextFile.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelmbus {

class TInOutPort;

using TNotifyEvent = std::function<void(TInOutPort& sender)>;
using TArrayBuf = std::vector<uint8_t>;

class TInOutPort {
public:
    static constexpr int BlockSize = 1024;
    static constexpr int RegisterCount = 512;
    static constexpr int FloatCount = 256;
    static constexpr int DataFlagCount = 10;
    static constexpr int AverageSlots = 11;

    TInOutPort();
    virtual ~TInOutPort();
    TInOutPort(const TInOutPort&) = delete;
    TInOutPort& operator=(const TInOutPort&) = delete;

    // Published properties, with their values at creation.
    bool ServerPel = false; // true: the client program is the data source
    std::string StrPort = "COM1:9600,N,8,2";
    uint32_t CiclOprosa = 250;
    // Read by the receive thread for every request while the window may change
    // it, so it is atomic; it reads and writes like a plain field.
    std::atomic<uint8_t> SlaveNomer{1};
    uint32_t UstUsredn = 6;
    uint32_t UstUsrednCl() const { return FUstUsrednCl; }
    void SetUstUsrednCl(uint32_t value);
    uint32_t SizeBufIn = 4096;
    uint32_t SizeBufOut = 4096;
    TNotifyEvent OnPriemDataReady;
    TNotifyEvent OnPeredDataReady;

    // Sliding windows of the volume-flow average; always UstUsrednCl long.
    std::vector<float> UsrednClA;
    std::vector<float> UsrednClB;

    // The four 1024-byte blocks. BufReg holds the 512 holding registers, most
    // significant byte first; BufFloat the 256 floats in host byte order.
    std::array<float, FloatCount> BufFloat{};
    std::array<uint8_t, BlockSize> BufIn{};
    std::array<uint8_t, BlockSize> BufOut{};
    std::array<uint8_t, BlockSize> BufReg{};
    int32_t LenIn = 0;
    int32_t LenOut = 0;

    // Guards BufReg and BufFloat between the receive thread and the main
    // thread: held while one request is handled and while one conversion
    // runs, so a master never reads half-updated floats. Recursive so that a
    // caller may hold it across several conversions and register writes.
    std::recursive_mutex ImageMutex;

    // Transfer state of the serial channel.
    TArrayBuf ArrPriem; // bytes of the current receive step
    TArrayBuf ArrPered; // unsent tail of the response, last byte first
    // Written also by the receive thread when it closes a device that is
    // gone or reopens the port; the window reads it.
    std::atomic<bool> PortOpen{false};
    bool PeredPending = false;

    // Averaging state.
    std::array<float, AverageSlots> UsrednAcc{};
    uint32_t UsrednCount = 0;

    // Lines of the configuration file while it is read or written.
    std::vector<std::string> CfgList;

    // Directory of "CfgMBus.txt", with its trailing separator; the
    // executable's own directory unless a caller points it elsewhere.
    std::string ExeDir = ExecutableDirectory();

    // The settings file (ConfigFile.cpp). LoadConfig keeps the current values
    // when there is no readable file or it has no line; SaveConfig replaces
    // the file whole and returns false, leaving it as it was, on failure, with
    // the reason in failure. A file that exists but could not be loaded is
    // never replaced: it holds the operator's settings, not these.
    void LoadConfig();
    bool SaveConfig(std::string& failure);
    bool SaveConfig();
    bool ConfigUnreadable = false;
    TTextFileRead ConfigRead = TTextFileRead::Missing; // of the last LoadConfig
    void ListToConfig();
    void ConfigToList();

    // Flags 0-8 select the data kinds, flag 9 asks for the metering link.
    std::array<bool, DataFlagCount> DataFlags{};

    // Response delay in ms, also the pause after each received byte.
    std::atomic<uint16_t> ZaderOtveta{0}; // atomic for the same reason

    // Register and float images.
    void FloatToReg(int32_t lastIndex);
    void RegToFloat();

    // Events, run with this component as sender when a handler is assigned.
    virtual void DoPriemDataReady();
    virtual void DoPeredDataReady();
    // The receive thread changed PortOpen: it closed a device that is gone
    // or opened the port again; handed to the main thread like the others.
    TNotifyEvent OnPortOpenChange;
    virtual void DoPortOpenChange();

    // Modbus RTU request handling: BufIn/LenIn in, BufOut/LenOut out.
    void ProcessRequest();
    // What the receive thread saw of the exchange, for the journal.
    ExchangeCounters Counters;
    static uint16_t CalcCRC(const uint8_t* start, int32_t count);
    static bool CheckCRC(const uint8_t* frame, int32_t length);
    // Writes the CRC behind a frame of `length` bytes in BufOut and returns
    // the framed length, also in LenOut; 0 for a length whose CRC would not
    // fit in BufOut.
    int32_t AppendCRC(int32_t length);

    // A frame as two upper-case hexadecimal digits per byte, for the exchange
    // monitor; empty unless 0 < length < 1024, so it never reads past the
    // frame (FrameToHex.cpp).
    static std::string FrameToHex(const std::array<uint8_t, BlockSize>& frame, int32_t length);

    // Averages of the current values (floats 0 to 10): the accumulated
    // average publishes floats 11 to 21 once per period of UstUsredn steps and
    // returns true then; the sliding average writes float 88 every step.
    bool AccumAverage();
    void SlidingAverage();

    // Hands a finished response (CRC included) to the serial channel.
    void SendFrame(const uint8_t* frame, int32_t length);

    // Serial channel and receive thread. StrPort names the device before
    // its first colon and gives the mode after it.
    std::function<std::unique_ptr<CommDevice>()> DeviceFactory = MakeCommDevice;
    // Asynchronous post onto the owner's message loop. The receive thread
    // hands its two events over through it and waits until they have run;
    // when it is empty the events run on the receive thread.
    std::function<void(std::function<void()>)> PostToMainThread;
    std::shared_ptr<TLooker> Looker; // the latest receive thread
    // While the port is not open, the receive thread tries StrPort again
    // this often: an adapter that was pulled out or enumerates late then
    // serves again without anyone at the screen.
    std::chrono::milliseconds ReopenInterval{3000};
    CommMode Dcb; // line settings of the last open
    CommTimeouts Timeouts;
    void SetPortActive(bool active);
    // Why the last open failed, in the system's words; empty after a
    // successful one.
    std::string OpenFailure;
    bool OpenPort();
    bool SetTimeouts();
    void StartLooker();
    void StopLooker();
    bool ReceiveFrame();
    int32_t ReadPortBytes();
    void WritePort();
    void ResendTail();

private:
    friend class TLooker;
    enum class TWriteOutcome { Written, QueueFull, Failed };

    std::unique_ptr<CommDevice> Device;
    std::shared_ptr<TChannelSync> ChannelSync = std::make_shared<TChannelSync>();
    CommStatus ComStat;
    TWriteOutcome LastWrite = TWriteOutcome::Written;

    std::unique_lock<std::mutex> LockChannel();
    bool OpenPortLocked();
    bool SetTimeoutsLocked();
    void ClearCommErrors();
    bool ChannelPause(uint32_t milliseconds);
    void CloseChannel();
    // The receive thread's side, with the channel held.
    void CloseLostDevice();
    bool ReopenPortLocked();

    uint32_t FUstUsrednCl = 6;

    // Unlocked conversions; callers hold ImageMutex.
    void CopyFloatsToRegs(int32_t lastIndex);
    void CopyRegsToFloats();
    int32_t BuildException(uint8_t function, uint8_t code);
};

} // namespace pelmbus
