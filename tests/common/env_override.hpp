#pragma once

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace camsteer::test {

// Sets environment variables (nullptr: unset) and restores the old values when destroyed.
class EnvOverride {
  public:
    EnvOverride(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            value ? setenv(name, value, 1) : unsetenv(name);
        }
    }
    ~EnvOverride() {
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace camsteer::test
