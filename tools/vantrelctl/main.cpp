// vantrelctl: the scripting and diagnostics command line of Vantrel.
#include "Command.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <stdexcept>

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

} // namespace vantrelctl

int main(int argc, char** argv)
{
    using namespace vantrelctl;
    std::vector<std::string> args(argv + 1, argv + argc);
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
