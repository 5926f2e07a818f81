// The COM port names both platforms' serial devices read: which names are
// numbered ports, and the name Windows opens for each.
#include "ComPortName.h"

#include <gtest/gtest.h>

using namespace pelmbus;

namespace {

TEST(ComPortName, NumbersAndWindowsFileNames) {
    struct Case {
        const char* Name;
        std::optional<uint32_t> Number;
        const char* WindowsFileName;
    };
    const Case cases[] = {
        {"COM1", 1, "COM1"},
        {"COM9", 9, "COM9"},
        {"COM10", 10, "\\\\.\\COM10"},
        {"com12", 12, "\\\\.\\com12"},
        {"Com256", 256, "\\\\.\\Com256"},
        {"COM0", 0, "COM0"},
        {"COM007", 7, "COM007"},
        {"COM999999999", 999999999, "\\\\.\\COM999999999"},
        {"\\\\.\\COM3", 3, "\\\\.\\COM3"},
        {"\\\\.\\COM10", 10, "\\\\.\\COM10"},
        {"COM1234567890", std::nullopt, "COM1234567890"},
        {"COM", std::nullopt, "COM"},
        {"COM1x", std::nullopt, "COM1x"},
        {"COMX", std::nullopt, "COMX"},
        {"COM-1", std::nullopt, "COM-1"},
        {"LPT1", std::nullopt, "LPT1"},
        {"", std::nullopt, ""},
        {"\\\\.\\", std::nullopt, "\\\\.\\"},
        {"\\\\.\\Порт", std::nullopt, "\\\\.\\Порт"},
        {"/dev/ttyUSB0", std::nullopt, "/dev/ttyUSB0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ComPortNumber(c.Name), c.Number);
        EXPECT_EQ(ComPortFileName(c.Name), c.WindowsFileName);
    }
}

} // namespace
