// Any bytes as "CfgMBus.txt": loading never breaks the sliding-window
// invariant, the save that follows writes the seventeen lines, and loading
// and saving that file again gives the very same bytes (a text Windows-1251
// cannot hold settles as its "?" form after the first save).
#include "Cp1251.h"
#include "InOutPort.h"
#include "TextFile.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using pelmbus::TInOutPort;

namespace {

const std::string& Directory() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/pelmbus-fuzz-config-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        return std::string(pattern) + "/";
    }();
    // Registered once dir exists, so it runs before dir is destroyed.
    static const bool cleanup = std::atexit([] { std::filesystem::remove_all(Directory()); }) == 0;
    (void)cleanup;
    return dir;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Directory() + "CfgMBus.txt";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TInOutPort port;
    port.ExeDir = Directory();
    port.LoadConfig();
    Check(port.UsrednClA.size() == port.UstUsrednCl());
    Check(port.UsrednClB.size() == port.UstUsrednCl());
    Check(port.UstUsrednCl() >= 1);

    Check(port.SaveConfig());
    const std::string first = ReadAll(path);
    Check(pelmbus::SplitTextLines(first).size() == 17);
    Check(first.size() >= 2 && first.compare(first.size() - 2, 2, "\r\n") == 0);

    // A 32-bit field loaded from a negative number (-1 gives 4294967295) is
    // written without sign and so reads back as the key's missing value: the
    // file settles after one more load and save.
    const auto readBack = [](uint32_t value, uint32_t missing) {
        return value > static_cast<uint32_t>(INT32_MAX) ? missing : value;
    };
    // A file read as UTF-8 or UTF-16 may hold characters that Windows-1251
    // has not: the save writes "?" for them, and the port string reads back
    // as that.
    const std::string savedPort = pelmbus::Cp1251ToUtf8(pelmbus::Utf8ToCp1251(port.StrPort));
    TInOutPort again;
    again.ExeDir = Directory();
    again.LoadConfig();
    Check(again.StrPort == savedPort && again.SlaveNomer == port.SlaveNomer &&
          again.UstUsredn == readBack(port.UstUsredn, 0) &&
          again.UstUsrednCl() == port.UstUsrednCl() &&
          again.CiclOprosa == readBack(port.CiclOprosa, 10) &&
          again.ZaderOtveta == port.ZaderOtveta && again.ServerPel == port.ServerPel &&
          again.DataFlags == port.DataFlags);
    Check(again.SaveConfig());
    const std::string second = ReadAll(path);
    const bool settled = readBack(port.UstUsredn, 0) == port.UstUsredn &&
                         readBack(port.CiclOprosa, 10) == port.CiclOprosa;
    Check(!settled || second == first);

    TInOutPort third;
    third.ExeDir = Directory();
    third.LoadConfig();
    Check(third.SaveConfig());
    Check(ReadAll(path) == second);
    return 0;
}
