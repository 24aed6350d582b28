// One Vantrel per user and display: a socket in $XDG_RUNTIME_DIR through which later starts pass their request.
#pragma once

#include <QLocalServer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

/// What a later `vantrel` asks of the running one. One line each way:
/// the request's name, then "ok" once it has been handed over.
enum class InstanceRequest { settings, quit };

std::string_view requestName(InstanceRequest request);
std::optional<InstanceRequest> parseRequest(std::string_view line);

/// The socket of `display` ("host:1.0" counts as "host:1"): under
/// `runtimeDir` when it is an absolute path, else in a folder of the user's
/// own under the temporary directory.
std::filesystem::path instanceSocketPath(std::string_view display, const char* runtimeDir);

/// Hands `request` to the instance listening at `path`. True when it
/// answered "ok"; false when nobody listens there (or answers in time).
bool sendToRunningInstance(const std::filesystem::path& path, InstanceRequest request,
                           std::chrono::milliseconds timeout = std::chrono::seconds(2));

/// The running instance's end: listens at the path, taking over a socket
/// file that no process answers on any more.
class InstanceServer {
public:
    /// False (with `error`) when the socket cannot be made; another instance
    /// answering there counts as failure too.
    bool listen(const std::filesystem::path& path, std::string* error);
    const std::filesystem::path& path() const { return path_; }
    /// Called on the main thread with each request.
    std::function<void(InstanceRequest)> onRequest;

private:
    QLocalServer server_;
    std::filesystem::path path_;
};

} // namespace vantrel
