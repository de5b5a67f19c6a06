#include "config/settings.h"

int32_t g_comPort = 0;
std::string g_comPortPath;
std::string g_comSpeed;
bool g_showStatusBox = false;
bool g_autoConnect = false;
std::atomic<bool> g_logEnabled{false};
