// Logging with one category per component and os_log-style format strings.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace vantrel {

/// The subsystem every line is logged under.
inline constexpr std::string_view logSubsystem = "org.vantrel.Vantrel";

/// debug: per-event traces; info: state changes; notice ("default"): noteworthy;
/// error: failures.
enum class LogLevel { debug, info, notice, error };

/// One argument of a log line.
using LogArg = std::variant<std::int64_t, std::uint64_t, double, bool, std::string>;

/// Formats `format` with os_log placeholders: `%{public}s`, `%s`, `%ld`, `%d`,
/// `%hu`, `%u`, `%lu`, `%llu`, `%lld`, `%{bool}d` ("true"/"false"), `%{public}f`,
/// `%f`, `%x`, `%lx` (hexadecimal, no prefix), `%%`. A missing argument prints
/// as "<missing>"; surplus arguments are ignored.
std::string formatLogMessage(std::string_view format, const std::vector<LogArg>& args);

/// One emitted line, as captured in tests.
struct LogRecord {
    LogLevel level = LogLevel::info;
    std::string category;
    std::string message;
    bool operator==(const LogRecord&) const = default;
};

/// Writes a record to the sinks: standard error (filtered by VANTREL_LOG:
/// "error", "info" or "debug"; default info, which also shows notice and error)
/// and every active LogCapture (which sees all levels).
void emitLog(LogLevel level, std::string_view category, std::string message);

/// True when a line of this level would reach any sink (lets callers skip
/// expensive formatting).
bool logEnabled(LogLevel level);

namespace detail {
template <class T>
LogArg toLogArg(const T& value)
{
    if constexpr (std::is_same_v<T, bool>)
        return value;
    else if constexpr (std::is_enum_v<T>)
        return static_cast<std::int64_t>(value);
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
        return static_cast<std::int64_t>(value);
    else if constexpr (std::is_integral_v<T>)
        return static_cast<std::uint64_t>(value);
    else if constexpr (std::is_floating_point_v<T>)
        return static_cast<double>(value);
    else
        return std::string(std::string_view(value));
}
} // namespace detail

/// A logging category ("switcher", "tracker", ...). Cheap to copy.
class Logger {
public:
    explicit Logger(std::string category) : category_(std::move(category)) {}

    template <class... A> void debug(std::string_view format, const A&... args) const { log(LogLevel::debug, format, args...); }
    template <class... A> void info(std::string_view format, const A&... args) const { log(LogLevel::info, format, args...); }
    /// The "default" level of the unified log.
    template <class... A> void notice(std::string_view format, const A&... args) const { log(LogLevel::notice, format, args...); }
    template <class... A> void error(std::string_view format, const A&... args) const { log(LogLevel::error, format, args...); }

    template <class... A>
    void log(LogLevel level, std::string_view format, const A&... args) const
    {
        if (!logEnabled(level))
            return;
        emitLog(level, category_, formatLogMessage(format, {detail::toLogArg(args)...}));
    }

    const std::string& category() const { return category_; }

private:
    std::string category_;
};

/// Collects every line logged while it exists (all levels, all threads).
/// Captures may nest; each sees the lines emitted during its own lifetime.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    /// Messages only, optionally of one category.
    std::vector<std::string> messages(std::string_view category = {}) const;
    /// True when some message of the category (any when empty) equals `message`.
    bool contains(std::string_view message, std::string_view category = {}) const;
    void clear();

private:
    struct State;
    State* state_;
};

/// Signposts: named intervals ("focus", "rank", "show") whose durations are
/// logged at debug level in their category and kept for statistics.
class SignpostInterval {
public:
    SignpostInterval(std::string name, std::string category);
    ~SignpostInterval();
    SignpostInterval(SignpostInterval&&) noexcept;
    SignpostInterval& operator=(SignpostInterval&&) noexcept;
    SignpostInterval(const SignpostInterval&) = delete;
    SignpostInterval& operator=(const SignpostInterval&) = delete;

    /// Ends the interval (once; later calls and the destructor do nothing).
    void end();

private:
    std::string name_;
    std::string category_;
    std::chrono::steady_clock::time_point start_;
    bool open_ = true;
};

namespace Signposts {
/// Durations of every ended interval of this name, oldest first (at most the
/// last 1,000 are kept per name).
std::vector<std::chrono::nanoseconds> durations(std::string_view name);
void reset();
} // namespace Signposts

} // namespace vantrel
