// Time per call of the request handling and the CRC. Goal: a 100-register
// read answered in under 1 µs.
#include "InOutPort.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace pelmbus;

namespace {

void LoadRequest(TInOutPort& port, std::vector<uint8_t> frame) {
    const uint16_t crc = TInOutPort::CalcCRC(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    std::memcpy(port.BufIn.data(), frame.data(), frame.size());
    port.LenIn = static_cast<int32_t>(frame.size());
}

void BM_Read100Registers(benchmark::State& state) {
    TInOutPort port;
    LoadRequest(port, {0x01, 0x03, 0x00, 0x00, 0x00, 0x64});
    for (auto _ : state) {
        port.ProcessRequest();
        benchmark::DoNotOptimize(port.LenOut);
    }
    if (port.LenOut != 205) {
        state.SkipWithError("unexpected response length");
    }
}
BENCHMARK(BM_Read100Registers);

void BM_Write100Registers(benchmark::State& state) {
    TInOutPort port;
    std::vector<uint8_t> frame{0x01, 0x10, 0x00, 0x00, 0x00, 0x64, 0xC8};
    for (int i = 0; i < 200; ++i) {
        frame.push_back(static_cast<uint8_t>(i));
    }
    LoadRequest(port, frame);
    for (auto _ : state) {
        port.ProcessRequest();
        benchmark::DoNotOptimize(port.LenOut);
    }
    if (port.LenOut != 8) {
        state.SkipWithError("unexpected response length");
    }
}
BENCHMARK(BM_Write100Registers);

void BM_Crc256Bytes(benchmark::State& state) {
    std::vector<uint8_t> data(256);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(TInOutPort::CalcCRC(data.data(), 256));
    }
}
BENCHMARK(BM_Crc256Bytes);

} // namespace
