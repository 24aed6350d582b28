// Log formatting, sinks (standard error and test captures) and signposts.
#include "Runtime/Log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <unistd.h>

namespace vantrel {

namespace {

std::string argToString(const LogArg& arg, char conversion, bool asBool)
{
    return std::visit(
        [&](const auto& value) -> std::string {
            using T = std::decay_t<decltype(value)>;
            char buffer[64];
            if constexpr (std::is_same_v<T, std::string>) {
                return value;
            } else if constexpr (std::is_same_v<T, bool>) {
                if (conversion == 's' || asBool)
                    return value ? "true" : "false";
                return value ? "1" : "0";
            } else if constexpr (std::is_same_v<T, double>) {
                if (conversion == 'f')
                    std::snprintf(buffer, sizeof buffer, "%f", value);
                else
                    std::snprintf(buffer, sizeof buffer, "%g", value);
                return buffer;
            } else {
                if (asBool)
                    return value != 0 ? "true" : "false";
                if (conversion == 'x')
                    std::snprintf(buffer, sizeof buffer, "%" PRIx64, static_cast<std::uint64_t>(value));
                else if (conversion == 'X')
                    std::snprintf(buffer, sizeof buffer, "%" PRIX64, static_cast<std::uint64_t>(value));
                else if (conversion == 'f')
                    std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(value));
                else if constexpr (std::is_same_v<T, std::int64_t>)
                    std::snprintf(buffer, sizeof buffer, "%" PRId64, value);
                else
                    std::snprintf(buffer, sizeof buffer, "%" PRIu64, value);
                return buffer;
            }
        },
        arg);
}

struct Sinks {
    std::mutex mutex;
    std::vector<std::vector<LogRecord>*> captures;
    LogLevel stderrLevel = LogLevel::info;
};

Sinks& sinks()
{
    static Sinks* instance = [] {
        auto* s = new Sinks; // never destroyed: logging may happen during exit
        if (const char* env = std::getenv("VANTREL_LOG")) {
            std::string value(env);
            if (value == "debug")
                s->stderrLevel = LogLevel::debug;
            else if (value == "error")
                s->stderrLevel = LogLevel::error;
        }
        return s;
    }();
    return *instance;
}

const char* levelName(LogLevel level)
{
    switch (level) {
    case LogLevel::debug: return "debug";
    case LogLevel::info: return "info";
    case LogLevel::notice: return "default";
    case LogLevel::error: return "error";
    }
    return "?";
}

} // namespace

std::string formatLogMessage(std::string_view format, const std::vector<LogArg>& args)
{
    std::string out;
    out.reserve(format.size() + 16);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool asBool = false;
        if (j < format.size() && format[j] == '{') {
            std::size_t close = format.find('}', j);
            if (close == std::string_view::npos) {
                out.append(format.substr(i));
                break;
            }
            asBool = format.substr(j + 1, close - j - 1) == "bool";
            j = close + 1;
        }
        // Length modifiers carry no meaning here: arguments know their type.
        while (j < format.size() && (format[j] == 'l' || format[j] == 'h' || format[j] == 'z' || format[j] == 'q'))
            ++j;
        if (j >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        char conversion = format[j];
        if (next < args.size())
            out += argToString(args[next], conversion, asBool);
        else
            out += "<missing>";
        ++next;
        i = j;
    }
    return out;
}

bool logEnabled(LogLevel level)
{
    auto& s = sinks();
    std::lock_guard lock(s.mutex);
    return !s.captures.empty() || level >= s.stderrLevel;
}

void emitLog(LogLevel level, std::string_view category, std::string message)
{
    auto& s = sinks();
    std::lock_guard lock(s.mutex);
    for (auto* capture : s.captures)
        capture->push_back(LogRecord{level, std::string(category), message});
    if (level < s.stderrLevel)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::fprintf(stderr, "%s.%03ld %s[%d] %s [%.*s] %s\n", stamp, now.tv_nsec / 1000000L, "vantrel",
                 static_cast<int>(getpid()), levelName(level), static_cast<int>(category.size()), category.data(),
                 message.c_str());
}

struct LogCapture::State {
    std::vector<LogRecord> records;
};

LogCapture::LogCapture() : state_(new State)
{
    auto& s = sinks();
    std::lock_guard lock(s.mutex);
    s.captures.push_back(&state_->records);
}

LogCapture::~LogCapture()
{
    {
        auto& s = sinks();
        std::lock_guard lock(s.mutex);
        s.captures.erase(std::remove(s.captures.begin(), s.captures.end(), &state_->records), s.captures.end());
    }
    delete state_;
}

std::vector<LogRecord> LogCapture::records() const
{
    std::lock_guard lock(sinks().mutex);
    return state_->records;
}

std::vector<std::string> LogCapture::messages(std::string_view category) const
{
    std::vector<std::string> result;
    for (const auto& record : records())
        if (category.empty() || record.category == category)
            result.push_back(record.message);
    return result;
}

bool LogCapture::contains(std::string_view message, std::string_view category) const
{
    for (const auto& record : records())
        if ((category.empty() || record.category == category) && record.message == message)
            return true;
    return false;
}

void LogCapture::clear()
{
    std::lock_guard lock(sinks().mutex);
    state_->records.clear();
}

namespace {

constexpr std::size_t maxSignpostSamples = 1000;

struct SignpostStore {
    std::mutex mutex;
    std::map<std::string, std::deque<std::chrono::nanoseconds>, std::less<>> durations;
};

SignpostStore& signpostStore()
{
    static auto* store = new SignpostStore;
    return *store;
}

} // namespace

SignpostInterval::SignpostInterval(std::string name, std::string category)
    : name_(std::move(name)), category_(std::move(category)), start_(std::chrono::steady_clock::now())
{
}

SignpostInterval::~SignpostInterval()
{
    end();
}

SignpostInterval::SignpostInterval(SignpostInterval&& other) noexcept
    : name_(std::move(other.name_)), category_(std::move(other.category_)), start_(other.start_), open_(other.open_)
{
    other.open_ = false;
}

SignpostInterval& SignpostInterval::operator=(SignpostInterval&& other) noexcept
{
    if (this != &other) {
        end();
        name_ = std::move(other.name_);
        category_ = std::move(other.category_);
        start_ = other.start_;
        open_ = other.open_;
        other.open_ = false;
    }
    return *this;
}

void SignpostInterval::end()
{
    if (!open_)
        return;
    open_ = false;
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_);
    {
        auto& store = signpostStore();
        std::lock_guard lock(store.mutex);
        auto& samples = store.durations[name_];
        samples.push_back(elapsed);
        if (samples.size() > maxSignpostSamples)
            samples.pop_front();
    }
    Logger(category_).debug("signpost %{public}s: %{public}f ms", name_, static_cast<double>(elapsed.count()) / 1e6);
}

namespace Signposts {

std::vector<std::chrono::nanoseconds> durations(std::string_view name)
{
    auto& store = signpostStore();
    std::lock_guard lock(store.mutex);
    auto it = store.durations.find(name);
    if (it == store.durations.end())
        return {};
    return {it->second.begin(), it->second.end()};
}

void reset()
{
    auto& store = signpostStore();
    std::lock_guard lock(store.mutex);
    store.durations.clear();
}

} // namespace Signposts

} // namespace vantrel
