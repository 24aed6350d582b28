// The per-user key/value store (user defaults).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Keys map to JSON values. Data blobs (byte strings such as the settings
/// document) go through `data`/`setData` and read back byte for byte.
/// Implementations are thread-safe.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    virtual std::optional<nlohmann::json> object(std::string_view key) const = 0;
    virtual void setObject(std::string_view key, nlohmann::json value) = 0;
    virtual void remove(std::string_view key) = 0;

    /// The blob under `key`, or none when absent or not a blob.
    virtual std::optional<std::string> data(std::string_view key) const = 0;
    virtual void setData(std::string_view key, std::string_view bytes) = 0;

    /// Takes in what another process stored since the last read. Defaults that
    /// only this process sees have nothing to take in.
    virtual void reload() {}
};

/// Defaults kept in memory only (tests).
class MemoryUserDefaults final : public UserDefaults {
public:
    std::optional<nlohmann::json> object(std::string_view key) const override;
    void setObject(std::string_view key, nlohmann::json value) override;
    void remove(std::string_view key) override;
    std::optional<std::string> data(std::string_view key) const override;
    void setData(std::string_view key, std::string_view bytes) override;

    /// Number of writes (set or remove) so far; tests use it to see that
    /// nothing was written.
    std::size_t writeCount() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, nlohmann::json, std::less<>> values_;
    std::size_t writes_ = 0;
};

/// Defaults persisted as one JSON object in a file (by default
/// `Paths::defaultsFile()`). The file is read once at construction and
/// rewritten on every change: written to a temporary file beside it, flushed,
/// then renamed over it, so a crash leaves either the old or the new file.
/// The file and its folder are created readable by the owner only. A file that
/// cannot be read (not a regular file, larger than `maxFileBytes`) or is not
/// a JSON object reads as empty and is moved aside (to
/// "defaults.json.corrupt-<time>") before anything replaces it.
/// A blob is stored as a JSON string when it is valid UTF-8 (so the settings
/// document stays readable and editable by hand), else as {"base64": "..."}.
class FileUserDefaults final : public UserDefaults {
public:
    explicit FileUserDefaults(std::filesystem::path file);

    std::optional<nlohmann::json> object(std::string_view key) const override;
    void setObject(std::string_view key, nlohmann::json value) override;
    void remove(std::string_view key) override;
    std::optional<std::string> data(std::string_view key) const override;
    void setData(std::string_view key, std::string_view bytes) override;
    /// Reads the file again: a missing file reads as empty; an unreadable or
    /// corrupt one leaves the values as they are and is moved aside before
    /// the next write.
    void reload() override;

    const std::filesystem::path& file() const { return file_; }
    /// The error of the last read or write, empty when it went well.
    std::string lastError() const;
    /// Where a corrupt file was moved, if that happened.
    std::optional<std::filesystem::path> quarantinedFile() const;

private:
    void readLocked();
    void saveLocked();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
    std::string lastError_;
    bool corrupt_ = false;
    std::optional<std::filesystem::path> quarantined_;
};

} // namespace vantrel
