#pragma once

namespace camsteer {

// Sets the environment variable `name` to `value` for this process and what it starts, unless
// it is set already (the user's own value wins).
void setEnvironmentDefault(const char* name, const char* value);

}  // namespace camsteer
