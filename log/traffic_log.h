#pragma once
#include <cstdint>
#include <string>

#include "platform/clock.h"

// Kinds of traffic-log record.
enum class TrafficKind : int {
    Event = 1,    // free-text event line
    CatToPc = 2,  // bytes read from the terminal
    PcToCat = 3,  // bytes written to the terminal
    VanToPc = 4,  // bytes received from the VAN
    PcToVan = 5,  // bytes sent to the VAN
};

// Appends one line to the day's log file "<folder>/<base>_YYYYMMDD.LOG".
// For Event, data is a NUL-terminated text (control bytes in it are shown as
// '?': one call is always one line) and length is ignored; for the data
// kinds, data holds length bytes (a length of 0 or less gives an empty dump).
// Each call opens, writes and closes the file under one process-wide lock, so
// lines from several threads never interleave. Failures write nothing and are
// not reported. Any thread.
void WriteTrafficLog(TrafficKind kind, const void* data, int length);

// Points the log at a folder and base name (start-up passes exeDir + "CATLOG"
// and ExeBase, before anything is traced) and, for tests, at a clock. An empty
// clock means the local time. Until this is called, or with an empty folder or
// base name, the log writes nothing.
void ConfigureTrafficLog(const std::string& folder, const std::string& exeBase,
                         platform::LocalClock clock = {});

// The log folder in use ("" until configured).
std::string TrafficLogFolder();

// The full line, CR LF included, that WriteTrafficLog would write at time t.
std::string FormatTrafficLine(TrafficKind kind, const void* data, int length,
                              const platform::LocalTime& t);

// The file name (without folder) for a date: "<base>_YYYYMMDD.LOG".
std::string TrafficLogFileName(const std::string& exeBase, const platform::LocalTime& t);
