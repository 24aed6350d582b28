// vantrelctl: the scripting and diagnostics command line of Vantrel.
#include "Command.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <stdexcept>

#ifdef VANTRELCTL_FORWARD_TO
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace vantrelctl {

namespace {
std::map<std::string, Command>& table()
{
    static std::map<std::string, Command> commands;
    return commands;
}

void printHelp(std::ostream& out)
{
    out << "usage: vantrelctl COMMAND [ARGS...]\n"
           "       vantrelctl help COMMAND\n\n"
           "commands:\n";
    for (const auto& command : commands())
        out << "  " << command.name << std::string(command.name.size() < 14 ? 14 - command.name.size() : 1, ' ')
            << command.summary << "\n";
}
} // namespace

void registerCommand(Command command)
{
    auto name = command.name;
    table().insert_or_assign(std::move(name), std::move(command));
}

std::vector<Command> commands()
{
    std::vector<Command> result;
    for (const auto& [name, command] : table())
        result.push_back(command);
    return result;
}

bool takeFlag(std::vector<std::string>& args, std::string_view flag)
{
    auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end())
        return false;
    args.erase(it);
    return true;
}

std::optional<std::string> takeOption(std::vector<std::string>& args, std::string_view name)
{
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it == name) {
            if (std::next(it) == args.end())
                throw std::invalid_argument(std::string(name) + " needs a value");
            std::string value = *std::next(it);
            args.erase(it, std::next(it, 2));
            return value;
        }
        std::string prefix = std::string(name) + "=";
        if (it->rfind(prefix, 0) == 0) {
            std::string value = it->substr(prefix.size());
            args.erase(it);
            return value;
        }
    }
    return std::nullopt;
}

#ifdef VANTRELCTL_FORWARD_TO
/// Runs the program that has the commands this one lacks with the same
/// arguments: the one beside this one's executable, or where the PATH finds
/// it when that executable cannot be located. Returns only on failure.
[[noreturn]] void forward(char** argv)
{
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    const bool located = length > 0 && static_cast<std::size_t>(length) < self.size();
    std::string program = VANTRELCTL_FORWARD_TO;
    if (located) {
        self.resize(static_cast<std::size_t>(length));
        program = self.substr(0, self.rfind('/') + 1) + program;
    }
    std::vector<char*> arguments { program.data() };
    for (char** arg = argv + 1; *arg != nullptr; ++arg)
        arguments.push_back(*arg);
    arguments.push_back(nullptr);
    if (located)
        ::execv(program.c_str(), arguments.data());
    else
        ::execvp(program.c_str(), arguments.data());
    std::cerr << "vantrelctl: cannot run " << program << ": " << std::strerror(errno) << "\n";
    std::exit(2);
}
#endif

} // namespace vantrelctl

int main(int argc, char** argv)
{
    using namespace vantrelctl;
    std::vector<std::string> args(argv + 1, argv + argc);
#ifdef VANTRELCTL_FORWARD_TO
    // Only the commands compiled in here run here; help and everything else
    // is the other program's.
    const bool local = !args.empty() && table().contains(args[0] == "help" && args.size() > 1 ? args[1] : args[0]);
    if (!local)
        forward(argv);
#endif
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        printHelp(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    auto& commandTable = table();
    if (args[0] == "help") {
        if (args.size() < 2) {
            printHelp(std::cout);
            return 0;
        }
        auto it = commandTable.find(args[1]);
        if (it == commandTable.end()) {
            std::cerr << "vantrelctl: unknown command '" << args[1] << "'\n";
            return 2;
        }
        std::cout << it->second.usage;
        return 0;
    }
    auto it = commandTable.find(args[0]);
    if (it == commandTable.end()) {
        std::cerr << "vantrelctl: unknown command '" << args[0] << "' (see vantrelctl --help)\n";
        return 2;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
        std::cout << it->second.usage;
        return 0;
    }
    try {
        return it->second.run(rest);
    } catch (const std::exception& error) {
        std::cerr << "vantrelctl " << args[0] << ": " << error.what() << "\n";
        return 2;
    }
}
