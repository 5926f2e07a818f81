// The settings file "CfgMBus.txt": seventeen "key=value" lines with Cyrillic
// keys, Windows-1251 and CR LF on disk.
#include "DataKinds.h"
#include "DvUtils.h"
#include "InOutPort.h"
#include "LocaleNumbers.h"
#include "SameText.h"
#include "TextFile.h"

#include <string_view>

namespace pelmbus {

namespace {

constexpr const char* ConfigFileName = "CfgMBus.txt";

// Keys of the eight settings before the data-kind flags, in file order.
constexpr std::string_view KeyServerProgram = "Программа_сервер";
constexpr std::string_view KeyConnect = "Соединение_с_сервером";
constexpr std::string_view KeyPort = "Настройка_COM_порта";
constexpr std::string_view KeySlave = "Номер_slave_устройства";
constexpr std::string_view KeyAverage = "Уставка_усреднения";
constexpr std::string_view KeySlidingAverage = "Уставка_скользящего_усреднения";
constexpr std::string_view KeyPollCycle = "Цикл_опроса_порта";
constexpr std::string_view KeyResponseDelay = "Задержка_ответа";

constexpr int ConnectFlag = 9;

// A sliding window longer than this is not a usable length: both windows
// are allocated and summed in full, and a hand-edited file must not be able
// to exhaust the memory. The window offers at most 300.
constexpr uint32_t MaxSlidingWindow = 100000;

// Value of the first line whose text before its first "=" is the key, letter
// case ignored; empty when no line carries the key.
std::string LookUp(const std::vector<std::string>& lines, std::string_view key) {
    for (const std::string& line : lines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos &&
            SameText(std::string_view(line).substr(0, equals), key)) {
            return line.substr(equals + 1);
        }
    }
    return {};
}

// The value as a whole number, or missing when it is not one.
int32_t NumberOr(const std::string& value, int32_t missing) {
    int32_t number = 0;
    return TryStrToInt(value, number) ? number : missing;
}

std::string Line(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    line += value;
    return line;
}

} // namespace

void TInOutPort::LoadConfig() {
    std::vector<std::string> lines;
    const TTextFileRead read = ReadTextFile(ExeDir + ConfigFileName, lines);
    ConfigRead = read;
    ConfigUnreadable = read == TTextFileRead::Unreadable;
    if (read != TTextFileRead::Read) {
        return; // no file, or one that cannot be read: creation values stay
    }
    CfgList.clear();
    for (const std::string& line : lines) {
        CfgList.push_back(TrimLeftBlanks(line));
    }
    if (CfgList.empty()) {
        return;
    }
    ListToConfig();
}

void TInOutPort::ListToConfig() {
    ServerPel = SameText(LookUp(CfgList, KeyServerProgram), "CltPel.exe");
    if (LookUp(CfgList, KeyConnect) == "true") {
        DataFlags[ConnectFlag] = true;
    }
    StrPort = LookUp(CfgList, KeyPort);
    // Stored in the field's width: the low bits of the number are kept.
    SlaveNomer = static_cast<uint8_t>(NumberOr(LookUp(CfgList, KeySlave), 0));
    UstUsredn = static_cast<uint32_t>(NumberOr(LookUp(CfgList, KeyAverage), 0));
    const auto sliding = static_cast<uint32_t>(NumberOr(LookUp(CfgList, KeySlidingAverage), 0));
    SetUstUsrednCl(sliding <= MaxSlidingWindow ? sliding : 0); // 0 keeps the window
    CiclOprosa = static_cast<uint32_t>(NumberOr(LookUp(CfgList, KeyPollCycle), 10));
    ZaderOtveta = static_cast<uint16_t>(NumberOr(LookUp(CfgList, KeyResponseDelay), 20));
    for (int k = 0; k < DataKindCount; ++k) {
        if (LookUp(CfgList, DataKinds[k].ConfigKey) == "False") {
            DataFlags[k] = false;
        }
    }
}

void TInOutPort::ConfigToList() {
    CfgList.clear();
    CfgList.push_back(Line(KeyServerProgram, ServerPel ? "CltPel.exe" : "Pel.exe"));
    CfgList.push_back(Line(KeyConnect, DataFlags[ConnectFlag] ? "true" : "false"));
    CfgList.push_back(Line(KeyPort, StrPort));
    CfgList.push_back(Line(KeySlave, std::to_string(SlaveNomer)));
    CfgList.push_back(Line(KeyAverage, std::to_string(UstUsredn)));
    CfgList.push_back(Line(KeySlidingAverage, std::to_string(UstUsrednCl())));
    CfgList.push_back(Line(KeyPollCycle, std::to_string(CiclOprosa)));
    CfgList.push_back(Line(KeyResponseDelay, std::to_string(ZaderOtveta)));
    for (int k = 0; k < DataKindCount; ++k) {
        CfgList.push_back(Line(DataKinds[k].ConfigKey, DataFlags[k] ? "True" : "False"));
    }
}

bool TInOutPort::SaveConfig(std::string& failure) {
    if (ConfigUnreadable) {
        failure = "при запуске файл не удалось прочитать";
        return false;
    }
    ConfigToList();
    return WriteTextLines(ExeDir + ConfigFileName, CfgList, failure);
}

bool TInOutPort::SaveConfig() {
    std::string failure;
    return SaveConfig(failure);
}

} // namespace pelmbus
