#include "log/traffic_log.h"

#include <cstdio>
#include <mutex>

#include "platform/system.h"

namespace {

struct LogTarget {
    std::mutex mutex;  // one open-write-close at a time: lines never interleave
    std::string folder;
    std::string privateFolder;  // the folder last made private
    std::string exeBase;
    platform::LocalClock clock;
};

LogTarget& Target() {
    static LogTarget target;
    return target;
}

const char* Tag(TrafficKind kind) {
    switch (kind) {
        case TrafficKind::CatToPc: return "[CAT->PC ] [%-4d] [";
        case TrafficKind::PcToCat: return "[PC ->CAT] [%-4d] [";
        case TrafficKind::VanToPc: return "[VAN->PC ] [%-4d] [";
        case TrafficKind::PcToVan: return "[PC ->VAN] [%-4d] [";
        case TrafficKind::Event: break;
    }
    return nullptr;
}

}  // namespace

std::string TrafficLogFileName(const std::string& exeBase, const platform::LocalTime& t) {
    char date[32];
    std::snprintf(date, sizeof date, "%04d%02d%02d", t.year, t.month, t.day);
    return exeBase + "_" + date + ".LOG";
}

std::string FormatTrafficLine(TrafficKind kind, const void* data, int length,
                              const platform::LocalTime& t) {
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d > ", t.hour, t.minute, t.second,
                  t.millisecond);
    std::string line(prefix);
    const char* tag = Tag(kind);
    if (tag == nullptr) {
        line += "           [0   ] [";
        // Event texts may carry what came from outside (the terminal's request
        // fields): a control byte is shown as '?', so no text can break the
        // line or write a line of its own into the trace.
        for (const char* p = static_cast<const char*>(data); p != nullptr && *p != '\0'; ++p) {
            const auto b = static_cast<unsigned char>(*p);
            line += (b < 0x20 || b == 0x7F) ? '?' : *p;
        }
        line += "]\r\n";
        return line;
    }
    char head[40];
    std::snprintf(head, sizeof head, tag, length);
    line += head;
    if (length > 0 && data != nullptr) {
        static const char kHex[] = "0123456789ABCDEF";
        const auto* bytes = static_cast<const unsigned char*>(data);
        line.reserve(line.size() + static_cast<size_t>(length) * 2 + 3);
        for (int i = 0; i < length; ++i) {
            line += kHex[bytes[i] >> 4];
            line += kHex[bytes[i] & 0x0F];
        }
    }
    line += "]\r\n";
    return line;
}

void ConfigureTrafficLog(const std::string& folder, const std::string& exeBase,
                         platform::LocalClock clock) {
    LogTarget& t = Target();
    std::lock_guard lock(t.mutex);
    t.folder = folder;
    t.exeBase = exeBase;
    t.clock = std::move(clock);
}

std::string TrafficLogFolder() {
    LogTarget& t = Target();
    std::lock_guard lock(t.mutex);
    return t.folder;
}

void WriteTrafficLog(TrafficKind kind, const void* data, int length) {
    LogTarget& t = Target();
    std::lock_guard lock(t.mutex);
    // Start-up names the folder before anything is traced; until then (and in
    // a process that never names one) there is nowhere to write.
    if (t.folder.empty() || t.exeBase.empty()) return;
    // The trace holds card transactions: its folder and files are the user's
    // alone. The folder is made private once per process, and again when a
    // line finds it gone (a line that could not be opened wrote nothing, so
    // it is written again); a line costs no look at the folder otherwise.
    if (t.privateFolder != t.folder) {
        if (!platform::MakePrivateDirectory(t.folder)) return;
        t.privateFolder = t.folder;
    }
    const platform::LocalTime now = t.clock ? t.clock() : platform::NowLocal();
    const std::string path = platform::JoinPath(t.folder, TrafficLogFileName(t.exeBase, now));
    const std::string line = FormatTrafficLine(kind, data, length, now);
    // One write per line, the CR LF part of it on every platform; the file is
    // made private as the folder is.
    if (platform::AppendToPrivateFile(path, line) || platform::IsDirectory(t.folder)) return;
    if (platform::MakePrivateDirectory(t.folder)) platform::AppendToPrivateFile(path, line);
}
