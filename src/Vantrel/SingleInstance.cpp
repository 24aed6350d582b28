// One Vantrel per user and display: a socket in $XDG_RUNTIME_DIR through which later starts pass their request.
#include "Vantrel/SingleInstance.h"

#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel {

namespace {

/// Longest request or answer line, so a stray client cannot make us buffer much.
constexpr qint64 maxLine = 64;

/// Connects to the socket and writes one line; the descriptor, or -1.
int connectTo(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string_view requestName(InstanceRequest request)
{
    return request == InstanceRequest::quit ? "quit" : "settings";
}

std::optional<InstanceRequest> parseRequest(std::string_view line)
{
    if (line == "settings")
        return InstanceRequest::settings;
    if (line == "quit")
        return InstanceRequest::quit;
    return std::nullopt;
}

std::filesystem::path instanceSocketPath(std::string_view display, const char* runtimeDir)
{
    // The screen number after the dot names the same server.
    std::string name(display);
    if (auto colon = name.rfind(':'); colon != std::string::npos)
        if (auto dot = name.find('.', colon); dot != std::string::npos)
            name.erase(dot);
    for (char& c : name)
        if (c == '/')
            c = '_';
    std::filesystem::path folder;
    if (runtimeDir && runtimeDir[0] == '/') {
        folder = runtimeDir;
    } else {
        folder = std::filesystem::temp_directory_path() / ("vantrel-" + std::to_string(::getuid()));
        ::mkdir(folder.c_str(), 0700);
    }
    return folder / ("vantrel-" + name + ".socket");
}

bool sendToRunningInstance(const std::filesystem::path& path, InstanceRequest request, std::chrono::milliseconds timeout)
{
    int fd = connectTo(path);
    if (fd < 0)
        return false;
    const std::string line = std::string(requestName(request)) + "\n";
    bool ok = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ok && answer.find('\n') == std::string::npos && answer.size() < maxLine) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiting{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[maxLine];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ok && answer.starts_with("ok\n");
}

bool InstanceServer::listen(const std::filesystem::path& path, std::string* error)
{
    path_ = path;
    // No socket options: with them Qt binds elsewhere and renames the socket
    // over the path, which would steal it from a running instance. The
    // folder is the user's own (0700) either way.
    const QString name = QString::fromStdString(path.string());
    if (!server_.listen(name)) {
        if (server_.serverError() != QAbstractSocket::AddressInUseError) {
            *error = server_.errorString().toStdString();
            return false;
        }
        // A file nobody answers on is what a crashed run leaves behind.
        if (int fd = connectTo(path); fd >= 0) {
            ::close(fd);
            *error = "another instance answers on " + path.string();
            return false;
        }
        QLocalServer::removeServer(name);
        if (!server_.listen(name)) {
            *error = server_.errorString().toStdString();
            return false;
        }
    }
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* client = server_.nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > maxLine)
                        client->abort();
                    return;
                }
                const auto line = client->readLine(maxLine).trimmed().toStdString();
                auto request = parseRequest(line);
                client->write(request ? "ok\n" : "unknown request\n");
                client->flush();
                client->disconnectFromServer();
                if (request && onRequest)
                    onRequest(*request);
            });
        }
    });
    return true;
}

} // namespace vantrel
