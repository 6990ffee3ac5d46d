#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tallowdesk {

// Starts argv[0] (a path) with the given arguments in a session of its own,
// so it outlives the program that started it; nothing waits for it on the
// caller's side (a detached thread reaps it if it ends first). Returns false
// when it could not be started.
bool LaunchDetached(const std::vector<std::string>& argv);

// The running program's executable (/proc/self/exe); empty when unknown.
std::filesystem::path RunningExecutable();

}  // namespace tallowdesk
