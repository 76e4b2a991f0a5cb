// The process's environment variables, which programs it starts inherit.
#pragma once

#include <optional>
#include <string>

namespace velmora::platform {

// SetEnvironmentVariableW / setenv: sets a variable of this process, which
// every program it starts afterwards inherits. False when the system
// refuses.
bool SetEnvironmentValue(const char* name, const std::u16string& value);

// GetEnvironmentVariableW / getenv: the value, or nothing when the variable
// is not set. Windows finds names whatever their letter case; POSIX exactly.
std::optional<std::u16string> ReadEnvironmentValue(const char* name);

// Removes a variable from this process (and so from what it starts later).
void RemoveEnvironmentValue(const char* name);

}  // namespace velmora::platform
