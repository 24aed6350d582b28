// An environment variable set for a test: the value it had comes back when the
// guard goes, also when the test fails half-way.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vantrel::test {

/// Sets `name` to `value` while it lives; unsets it with no value.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            saved_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvironmentVariable() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace vantrel::test
