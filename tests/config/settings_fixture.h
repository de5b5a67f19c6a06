#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/settings.h"
#include "log/traffic_log.h"
#include "tests/support/manual_clock.h"
#include "tests/support/temp_dir.h"

inline const char kFreshFile[] =
    "[COMPORT]\nport=0\nspeed=9.6K\n[STATUSBOX]\nshow=hidden\n[COMMON]\nauto_run=N\nlog=N\n";

inline platform::LocalTime Noon() {
    platform::LocalTime t;
    t.year = 2024; t.month = 6; t.day = 1; t.hour = 12;
    return t;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        ConfigureTrafficLog(m_dir / "CATLOG", "brisken", m_clock.AsClock());
    }
    void TearDown() override { ResetSettings(); }

    std::string Ini() const { return m_dir / "brisken.ini"; }
    std::string TrafficLog() const {
        return ReadFile(m_dir / "CATLOG" + "/" + TrafficLogFileName("brisken", Noon()));
    }
    static std::string EmptyEventLine() { return FormatTrafficLine(TrafficKind::Event, "", 0, Noon()); }

    // Values a test can see changed when a failed load must leave them alone.
    static void Scribble() {
        g_comPort = 4;
        g_comSpeed = "38400";
        g_showStatusBox = true;
        g_autoConnect = true;
        g_logEnabled = true;
    }
    static void ExpectScribbled() {
        EXPECT_EQ(g_comPort, 4);
        EXPECT_EQ(g_comSpeed, "38400");
        EXPECT_TRUE(g_showStatusBox);
        EXPECT_TRUE(g_autoConnect);
        EXPECT_TRUE(g_logEnabled);
    }

    TempDir m_dir;
    ManualClock m_clock{Noon()};
};

