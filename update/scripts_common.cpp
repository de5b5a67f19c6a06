#include "platform/system.h"
#include "update/scripts.h"

std::string JoinPath(const std::string& dir, const std::string& name) {
    return platform::JoinPath(dir, name);
}

std::string ScriptRunMark(const std::string& script) { return script + ".run"; }
