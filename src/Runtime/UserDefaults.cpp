// User defaults in memory and in a JSON file written atomically.
#include "Runtime/UserDefaults.h"

#include "Runtime/AtomicFile.h"
#include "Runtime/FileRead.h"
#include "Runtime/Log.h"
#include "Runtime/Utf8Repair.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>

namespace vantrel {

namespace {

constexpr char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        std::uint32_t v = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                          std::uint8_t(bytes[i + 2]);
        out += base64Alphabet[(v >> 18) & 63];
        out += base64Alphabet[(v >> 12) & 63];
        out += base64Alphabet[(v >> 6) & 63];
        out += base64Alphabet[v & 63];
    }
    if (i + 1 == bytes.size()) {
        std::uint32_t v = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        out += base64Alphabet[(v >> 18) & 63];
        out += base64Alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        std::uint32_t v = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8);
        out += base64Alphabet[(v >> 18) & 63];
        out += base64Alphabet[(v >> 12) & 63];
        out += base64Alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    std::string out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const char* at = std::char_traits<char>::find(base64Alphabet, 64, c);
        if (!at)
            return std::nullopt;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(at - base64Alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

nlohmann::json blobToJson(std::string_view bytes)
{
    // Well-formed text is stored as a string, anything else as base64.
    if (isWellFormedUtf8(bytes))
        return std::string(bytes);
    return nlohmann::json{{"base64", base64Encode(bytes)}};
}

std::optional<std::string> blobFromJson(const nlohmann::json& value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_object() && value.size() == 1 && value.contains("base64") && value["base64"].is_string())
        return base64Decode(value["base64"].get_ref<const std::string&>());
    return std::nullopt;
}

const Logger& log()
{
    static const Logger logger("defaults");
    return logger;
}

} // namespace

// MARK: - MemoryUserDefaults

std::optional<nlohmann::json> MemoryUserDefaults::object(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

void MemoryUserDefaults::setObject(std::string_view key, nlohmann::json value)
{
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    ++writes_;
}

void MemoryUserDefaults::remove(std::string_view key)
{
    std::lock_guard lock(mutex_);
    if (auto it = values_.find(key); it != values_.end())
        values_.erase(it);
    ++writes_;
}

std::optional<std::string> MemoryUserDefaults::data(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return blobFromJson(it->second);
}

void MemoryUserDefaults::setData(std::string_view key, std::string_view bytes)
{
    setObject(key, blobToJson(bytes));
}

std::size_t MemoryUserDefaults::writeCount() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

// MARK: - FileUserDefaults

FileUserDefaults::FileUserDefaults(std::filesystem::path file) : file_(std::move(file))
{
    std::lock_guard lock(mutex_);
    readLocked();
}

void FileUserDefaults::reload()
{
    std::lock_guard lock(mutex_);
    readLocked();
}

void FileUserDefaults::readLocked()
{
    auto contents = readRegularFile(file_);
    if (contents.missing) {
        values_ = nlohmann::json::object();
        return;
    }
    if (!contents.bytes) {
        // Unreadable (permissions, a FIFO or folder in its place, too large):
        // keep it untouched and move it aside before the first write, like a
        // corrupt one.
        lastError_ = "cannot read " + file_.string() + ": " + contents.error;
        corrupt_ = true;
        log().error("Cannot read user defaults %{public}s (%{public}s); starting empty", file_.string(), contents.error);
        return;
    }
    auto parsed = nlohmann::json::parse(*contents.bytes, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        lastError_ = file_.string() + " is not a JSON object";
        corrupt_ = true;
        log().error("User defaults %{public}s are corrupt; starting empty", file_.string());
        return;
    }
    values_ = std::move(parsed);
    corrupt_ = false;
    lastError_.clear();
}

std::optional<nlohmann::json> FileUserDefaults::object(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return *it;
}

void FileUserDefaults::setObject(std::string_view key, nlohmann::json value)
{
    std::lock_guard lock(mutex_);
    values_[std::string(key)] = std::move(value);
    saveLocked();
}

void FileUserDefaults::remove(std::string_view key)
{
    std::lock_guard lock(mutex_);
    if (!values_.contains(key))
        return;
    values_.erase(std::string(key));
    saveLocked();
}

std::optional<std::string> FileUserDefaults::data(std::string_view key) const
{
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return blobFromJson(*it);
}

void FileUserDefaults::setData(std::string_view key, std::string_view bytes)
{
    setObject(key, blobToJson(bytes));
}

std::string FileUserDefaults::lastError() const
{
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::optional<std::filesystem::path> FileUserDefaults::quarantinedFile() const
{
    std::lock_guard lock(mutex_);
    return quarantined_;
}

void FileUserDefaults::saveLocked()
{
    if (corrupt_) {
        auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
        std::filesystem::path aside = file_;
        aside += ".corrupt-" + std::to_string(stamp);
        for (int n = 1; std::filesystem::exists(aside); ++n) {
            aside = file_;
            aside += ".corrupt-" + std::to_string(stamp) + "-" + std::to_string(n);
        }
        std::error_code error;
        std::filesystem::rename(file_, aside, error);
        if (error && std::filesystem::exists(file_)) {
            // Never overwrite what we could not keep.
            lastError_ = "cannot move aside " + file_.string() + ": " + error.message();
            log().error("Cannot move corrupt user defaults aside: %{public}s", error.message());
            return;
        }
        quarantined_ = aside;
        corrupt_ = false;
        log().notice("Moved corrupt user defaults to %{public}s", aside.string());
    }
    if (auto failure = writeFileAtomically(file_, values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n")) {
        lastError_ = *failure;
        log().error("Cannot save user defaults: %{public}s", *failure);
        return;
    }
    lastError_.clear();
}

} // namespace vantrel
