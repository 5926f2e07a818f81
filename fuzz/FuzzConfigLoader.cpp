// Any bytes as "CfgMBus.txt": loading never breaks the sliding-window
// invariant, the save that follows writes the seventeen lines, and loading
// and saving that file again gives the very same bytes.
#include "InOutPort.h"
#include "TextFile.h"

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

    TInOutPort again;
    again.ExeDir = Directory();
    again.LoadConfig();
    Check(again.StrPort == port.StrPort && again.SlaveNomer == port.SlaveNomer &&
          again.UstUsredn == port.UstUsredn && again.UstUsrednCl() == port.UstUsrednCl() &&
          again.CiclOprosa == port.CiclOprosa && again.ZaderOtveta == port.ZaderOtveta &&
          again.ServerPel == port.ServerPel && again.DataFlags == port.DataFlags);
    Check(again.SaveConfig());
    Check(ReadAll(path) == first);
    return 0;
}
