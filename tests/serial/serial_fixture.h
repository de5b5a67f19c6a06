#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "log/traffic_log.h"
#include "relay/relay_state.h"
#include "relay/serial_comm.h"
#include "tests/support/manual_clock.h"
#include "tests/support/recording_display.h"
#include "tests/support/serial_pair.h"
#include "tests/support/temp_dir.h"
#include "tools/catsim/cat_simulator.h"

// A terminal on the far end of a serial line (a pseudo-terminal pair, or the
// COM pair under Wine), the log in a temporary folder on a fixed date, logging
// on, and a recording main window. Closes the port afterwards.
class SerialFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::LocalTime t;
        t.year = 2024;
        t.month = 3;
        t.day = 5;
        t.hour = 9;
        t.minute = 5;
        t.second = 3;
        m_clock = std::make_unique<ManualClock>(t);
        ConfigureTrafficLog(m_dir.path(), "gate", m_clock->AsClock());
        g_logEnabled.store(true);
        g_relay.mainWindow.store(&m_display);
        std::string error;
        m_cat = OpenTerminalLine(m_port, &error);
        ASSERT_TRUE(m_cat) << error;
    }
    void TearDown() override {
        CloseSerialPort();
        g_relay.mainWindow.store(nullptr);
        g_logEnabled.store(false);
    }

    // The port the gateway opens.
    const std::string& Path() const { return m_port; }

    // The log's lines, CR LF stripped.
    std::vector<std::string> LogLines() const {
        const std::string all = ReadFile(m_dir / "gate_20240305.LOG");
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find("\r\n", pos);
            if (end == std::string::npos) end = all.size();
            lines.push_back(all.substr(pos, end - pos));
            pos = end + 2;
        }
        return lines;
    }
    // The log lines after the time prefix ("09:05:03.000 > ").
    std::vector<std::string> LogBodies() const {
        std::vector<std::string> out;
        for (const std::string& l : LogLines()) out.push_back(l.size() > 15 ? l.substr(15) : l);
        return out;
    }
    static std::string EventBody(const std::string& text) {
        return "           [0   ] [" + text + "]";
    }

    TempDir m_dir;
    std::unique_ptr<ManualClock> m_clock;
    RecordingDisplay m_display;
    std::unique_ptr<catsim::CatSimulator> m_cat;
    std::string m_port;
};
