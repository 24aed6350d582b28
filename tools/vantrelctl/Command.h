// Subcommands of vantrelctl register themselves here, one file each.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelctl {

/// Arguments after the subcommand name.
using Args = std::span<const std::string>;

/// One subcommand: `name`, a one-line `summary` for --help, a `usage` text
/// printed by `vantrelctl help NAME`, and the function that runs it and returns
/// the process exit code.
struct Command {
    std::string name;
    std::string summary;
    std::string usage;
    std::function<int(Args)> run;
};

/// Adds a command to the table; used through a static `Registration` object.
void registerCommand(Command command);

/// All registered commands, sorted by name.
std::vector<Command> commands();

struct Registration {
    explicit Registration(Command command) { registerCommand(std::move(command)); }
};

/// Tiny helpers for option parsing shared by the subcommands.
bool takeFlag(std::vector<std::string>& args, std::string_view flag);
/// Removes `--name VALUE` (or `--name=VALUE`) and returns VALUE; empty optional
/// when absent. Throws std::invalid_argument when the value is missing.
std::optional<std::string> takeOption(std::vector<std::string>& args, std::string_view name);

} // namespace vantrelctl
