// The whole chain: pelsim raises RefreshData, PelMBus (offscreen, started as
// the operator would, with its settings beside it) fetches and parses the
// reports, and a libmodbus master on the serial line reads the values with
// their date and time.
#include "LocaleNumbers.h"
#include "Pel_TLB.h"
#include "PtyBridge.h"
#include "SimulatorProcess.h"
#include "SpinEventLoop.h"
#include "SystemServices.h"
#include "TextFile.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <unistd.h>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

const QString ServerName = QStringLiteral("ru.pel.Pel");
constexpr int EventCount = 10;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelmbus-e2e-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        // PelMBus keeps its settings beside itself: a copy of the program in
        // a directory of its own.
        std::filesystem::copy_file(PELMBUS_EXECUTABLE, dir_ + "PelMBus");
        ASSERT_TRUE(WriteTextLines(
            dir_ + "CfgMBus.txt",
            {"Программа_сервер=Pel.exe", "Соединение_с_сервером=true",
             "Настройка_COM_порта=" + bridge_.SlaveSidePath() + ":9600,N,8,2",
             "Номер_slave_устройства=1", "Уставка_усреднения=6", "Уставка_скользящего_усреднения=6",
             "Цикл_опроса_порта=250", "Задержка_ответа=0", "Текущие_данные=True",
             "Усредненные_текущие_данные=True", "Двухчасовые_текущие_данные=True",
             "Двухчасовые_предыдушие_данные=True", "Данные_текущей_смены=True",
             "Данные_прошедшей_смены=True", "Текущие_суточные_данные=True",
             "Данные_за_прошедшие_сутки=True", "Усредненные_скользящие_данные=True"}));
    }

    void TearDown() override {
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished(3000);
        }
        pelsim::StopNameOwner(ServerName, 3000);
        if (ctx_ != nullptr) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
        std::filesystem::remove_all(dir_);
    }

    // The copy of PelMBus in dir_, offscreen.
    void StartProgram() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QString::fromStdString(dir_ + "PelMBus"), {});
        ASSERT_TRUE(program_.waitForStarted(5000));
    }

    std::string dir_;
    PtyBridge bridge_;
    QProcess program_;
    modbus_t* ctx_ = nullptr;
};

} // namespace

TEST_F(EndToEnd, MasterReadsWhatTheSimulatorServedLastWithItsDateAndTime) {
    // pelsim raises its events, then stands still with the data of the last.
    pelsim::SimulatorProcess simulator(
        {"--program", "server", "--period", "0.25", "--event-limit", QString::number(EventCount)},
        ServerName);
    QString error;
    ASSERT_TRUE(simulator.Start(error)) << error.toStdString();
    TAutoPel watcher;
    int lastEvent = 0;
    watcher.OnRefreshData = [&](MeteringLink&, int32_t ind) { lastEvent = ind; };
    watcher.Connect();

    ASSERT_NO_FATAL_FAILURE(StartProgram());

    ASSERT_TRUE(SpinUntil([&] { return lastEvent == EventCount; }, 10000))
        << "pelsim raised " << lastEvent << " events";
    const auto lines = SplitTextLines(watcher.DoCommand("GetRepData 0 0 0"));
    ASSERT_EQ(lines.size(), 14u);
    const TFormatSettings format = UserFormatSettings(); // the same locale as both programs
    std::vector<uint16_t> expected;
    for (int i = 0; i < 11; ++i) {
        const auto bits = std::bit_cast<uint32_t>(StrToSingle(lines[3 + i], format));
        expected.push_back(static_cast<uint16_t>(bits >> 16));
        expected.push_back(static_cast<uint16_t>(bits & 0xFFFF));
    }
    const std::vector<uint16_t> expectedTime{
        static_cast<uint16_t>(std::stoi(lines[1].substr(6, 4))),
        static_cast<uint16_t>(std::stoi(lines[1].substr(3, 2))),
        static_cast<uint16_t>(std::stoi(lines[1].substr(0, 2))),
        static_cast<uint16_t>(std::stoi(lines[2].substr(0, 2))),
        static_cast<uint16_t>(std::stoi(lines[2].substr(3, 2))),
        static_cast<uint16_t>(std::stoi(lines[2].substr(6, 2)))};

    ctx_ = modbus_new_rtu(bridge_.MasterSidePath().c_str(), 9600, 'N', 8, 2);
    ASSERT_NE(ctx_, nullptr);
    modbus_set_slave(ctx_, 1);
    modbus_set_response_timeout(ctx_, 1, 0);
    ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);

    // The refresh of the last event may still be on its way.
    std::vector<uint16_t> values(22);
    std::vector<uint16_t> time(6);
    const bool matched = SpinUntil(
        [&] {
            if (modbus_read_registers(ctx_, 0, 22, values.data()) != 22 ||
                modbus_read_registers(ctx_, 250, 6, time.data()) != 6) {
                return false;
            }
            return values == expected && time == expectedTime;
        },
        5000);
    EXPECT_TRUE(matched);
    EXPECT_EQ(values, expected) << "floats 0 to 10";
    EXPECT_EQ(time, expectedTime) << "registers 250 to 255";

    // Closed as by the window's close button: the settings are written.
    program_.terminate();
    ASSERT_TRUE(program_.waitForFinished(5000));
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 0);
    std::vector<std::string> stored;
    ASSERT_TRUE(ReadTextLines(dir_ + "CfgMBus.txt", stored));
    EXPECT_NE(std::find(stored.begin(), stored.end(), "Соединение_с_сервером=true"), stored.end());
}

TEST_F(EndToEnd, SlowApplicationDoesNotDelayTheSlavesAnswers) {
    // Every command takes 2 s, and events keep the refreshes coming, so the
    // window's thread waits for the application nearly all the time.
    pelsim::SimulatorProcess simulator(
        {"--program", "server", "--period", "0.25", "--reply-delay", "2000"}, ServerName);
    QString error;
    ASSERT_TRUE(simulator.Start(error)) << error.toStdString();

    ASSERT_NO_FATAL_FAILURE(StartProgram());

    ctx_ = modbus_new_rtu(bridge_.MasterSidePath().c_str(), 9600, 'N', 8, 2);
    ASSERT_NE(ctx_, nullptr);
    modbus_set_slave(ctx_, 1);
    // The usual answer comes within the 500 ms cycle pause and the frame's
    // time on the line; the time-out leaves room for a loaded machine but
    // stays below one command's 2 s, which a slave held up by the wait
    // would need at the least.
    modbus_set_response_timeout(ctx_, 1, 900000);
    ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    std::vector<uint16_t> values(2);
    // The first answer: the program is up and has started refreshing.
    ASSERT_TRUE(
        SpinUntil([&] { return modbus_read_registers(ctx_, 0, 2, values.data()) == 2; }, 10000));
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        if (modbus_read_registers(ctx_, 0, 2, values.data()) == 2) {
            ++answered;
        }
    }
    // A slave held up by the wait answers next to none of them (the
    // application is asked without pause); one late answer on a loaded
    // machine is not that fault.
    EXPECT_GE(answered, 9) << "requests went unanswered while the program waited";
}

// What an engineer finds the next morning: the journal beside the program
// holds the start, the files, the port, the link, the failed refreshes
// folded, the exchange and the close by signal, in that order.
TEST_F(EndToEnd, JournalTellsWhatHappenedInOrder) {
    // Every refresh fails, many times a second; no events of its own: the
    // refreshes come from the events pelsim raises until its limit.
    pelsim::SimulatorProcess simulator(
        {"--program", "server", "--period", "0.02", "--error-replies", "--event-limit", "100"},
        ServerName);
    QString error;
    ASSERT_TRUE(simulator.Start(error)) << error.toStdString();
    TAutoPel watcher;
    int lastEvent = 0;
    watcher.OnRefreshData = [&](MeteringLink&, int32_t ind) { lastEvent = ind; };
    watcher.Connect();

    ASSERT_NO_FATAL_FAILURE(StartProgram());
    // Requests sent before the port is open would wait in the line and reach
    // the slave as one frame: the counts below need each request on its own.
    ASSERT_TRUE(SpinUntil(
        [&] {
            std::vector<std::string> lines;
            return ReadTextLines(dir_ + "PelMBus.log", lines) &&
                   std::any_of(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.ends_with("\" открыт"); });
        },
        10000));

    ctx_ = modbus_new_rtu(bridge_.MasterSidePath().c_str(), 9600, 'N', 8, 2);
    ASSERT_NE(ctx_, nullptr);
    modbus_set_response_timeout(ctx_, 2, 0);
    ASSERT_EQ(modbus_connect(ctx_), 0) << modbus_strerror(errno);
    modbus_set_slave(ctx_, 1);
    std::vector<uint16_t> values(2);
    ASSERT_EQ(modbus_read_registers(ctx_, 0, 2, values.data()), 2) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx_, 1, 0);
    EXPECT_EQ(modbus_write_bit(ctx_, 0, 1), -1) << "function 5 gets exception 1";
    EXPECT_EQ(modbus_read_registers(ctx_, 600, 2, values.data()), -1) << "exception 2";
    modbus_set_slave(ctx_, 2);
    modbus_set_response_timeout(ctx_, 0, 700000);
    EXPECT_EQ(modbus_read_registers(ctx_, 0, 2, values.data()), -1) << "for another slave";
    // A request for this slave whose CRC is wrong.
    const uint8_t corrupt[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0C};
    ASSERT_EQ(write(modbus_get_socket(ctx_), corrupt, sizeof corrupt),
              static_cast<ssize_t>(sizeof corrupt));
    ASSERT_TRUE(SpinUntil([&] { return lastEvent == 100; }, 10000));
    SpinUntil([] { return false; }, 1500); // the corrupt frame's cycle, the last refreshes

    program_.terminate(); // SIGTERM
    ASSERT_TRUE(program_.waitForFinished(5000));
    EXPECT_EQ(program_.exitCode(), 0);

    std::vector<std::string> journal;
    ASSERT_TRUE(ReadTextLines(dir_ + "PelMBus.log", journal));
    std::string all;
    for (const std::string& line : journal) {
        EXPECT_TRUE(line.size() > 20 && line[4] == '-' && line[13] == ':' && line[19] == ' ')
            << line;
        all += line.substr(std::min<size_t>(line.size(), 20)) + "\n";
    }
    const std::string port = bridge_.SlaveSidePath() + ":9600,N,8,2";
    const std::vector<std::string> expected{
        "Запуск: Модуль ModBus v2.20, порт \"" + port +
            "\", адрес 1, задержка ответа 0 мс, источник данных Pel.exe, связь с программой "
            "включена\n",
        "Файл настроек \"" + dir_ + "CfgMBus.txt\" прочитан\n",
        "Файл ручных значений \"" + dir_ + "RegData.mrd\" не найден",
        "Порт \"" + port + "\" открыт\n",
        "Связь с программой Pel.exe установлена, программа уже работала\n",
        "Ошибка обновления данных: ",
        "Связь с программой Pel.exe разорвана при закрытии\n",
        "Ошибка обновления данных повторилась ещё ",
        "Обмен за 0 мин: ответов на запросы 1, исключений 2 (код 1 - 1, код 2 - 1), кадров для "
        "других адресов 1, отброшено кадров: с неверной CRC 1, неверной длины 0, наибольшая "
        "задержка ответа сверх пауз ",
        "Программа закрыта по сигналу\n"};
    size_t at = 0;
    for (const std::string& part : expected) {
        const size_t found = all.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << part << "\n" << all;
        at = found + part.size();
    }
    // Each failure of the same text within a minute folds into one count.
    EXPECT_LT(journal.size(), 16u) << all;
    std::cout << all;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
