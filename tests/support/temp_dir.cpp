#include "tests/support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/system.h"

TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) throw std::runtime_error("no temporary folder");
    std::random_device seed;
    std::mt19937_64 random(seed());
    // create_directory reports whether it made the folder, so two tests never
    // share one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("talmira-test-" + std::to_string(random() % 100000000));
        if (fs::create_directory(candidate, ec)) {
            m_path = platform::PathText(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(platform::FsPath(m_path), ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(platform::FsPath(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(platform::FsPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

std::vector<std::string> OwnHomeEnvironment(const TempDir& home) {
    return {"HOME=" + home.path(),
            "XDG_CONFIG_HOME=" + home / ".config",
            "XDG_DATA_HOME=" + home / ".local/share",
            "XDG_CACHE_HOME=" + home / ".cache",
            "XDG_RUNTIME_DIR=" + home.path(),
            "QT_QPA_PLATFORM=offscreen"};
}
