// A main window created with the fake host in a scratch directory, its port
// on a device that does not exist unless a test names one.
#pragma once

#include "FakeFormHost.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace pelmbus::testsupport {

class FormFixture : public ::testing::Test {
protected:
    FormFixture() { Host.Directory = Dir.Path; }
    ~FormFixture() override { Close(); }

    void Create(const std::string& port = "/nonexistent/tty:9600,N,8,2") {
        ASSERT_TRUE(WriteTextLines(Dir.Path + "CfgMBus.txt", {"Настройка_COM_порта=" + port}));
        Form = std::make_unique<TFPelMBus>(Host);
        Form->RunGuarded([this] { Form->FormCreate(); });
        ASSERT_TRUE(Form->InOutPort1);
    }
    void Close() {
        if (Form && Form->InOutPort1) {
            Form->FormClose();
        }
    }
    void UseComma() {
        Host.Format.DecimalSeparator = ",";
        Host.Format.ThousandSeparator = " ";
    }
    // Key by key, as the view hands them over: a key the handler discards
    // does not reach the text, carriage return never does.
    static void Type(TEdit& edit, const std::string& text) {
        for (char c : text) {
            const char key = edit.UserKeyPress(c);
            if (key != '\0' && key != '\r') {
                edit.UserSetText(edit.Text() + key);
            }
        }
    }

    TempDirectory Dir;
    FakeFormHost Host;
    std::unique_ptr<TFPelMBus> Form;
};

} // namespace pelmbus::testsupport
