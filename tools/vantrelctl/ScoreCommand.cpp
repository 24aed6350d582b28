// `vantrelctl score`: one query against one text, or JSON lines in batch.
#include "Command.h"
#include "SearchOutput.h"

#include "SearchKit/SearchScorer.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <string>

namespace vantrelctl {
namespace {

void appendResult(std::string& out, const std::optional<vantrel::SearchScorer::Match>& match)
{
    if (!match) {
        out += "null\n";
        return;
    }
    out.push_back('{');
    appendMatchFields(out, *match);
    out += "}\n";
}

int runBatch(bool allowMismatch)
{
    int status = 0;
    std::string line;
    std::string out;
    while (std::getline(std::cin, line)) {
        out.clear();
        auto request = nlohmann::json::parse(line, nullptr, false);
        const bool valid = request.is_object() && request.contains("query") && request["query"].is_string()
            && request.contains("text") && request["text"].is_string()
            && (!request.contains("allowOneMismatch") || request["allowOneMismatch"].is_boolean());
        if (!valid) {
            out += "{\"error\": \"expected {\\\"query\\\": string, \\\"text\\\": string, \\\"allowOneMismatch\\\": bool}\"}\n";
            status = 1;
        } else {
            const bool lenient = request.value("allowOneMismatch", allowMismatch);
            const vantrel::SearchScorer scorer({}, lenient);
            appendResult(out, scorer.match(request["query"].get<std::string>(), request["text"].get<std::string>()));
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    return status;
}

int run(Args args)
{
    std::vector<std::string> rest(args.begin(), args.end());
    const bool allowMismatch = takeFlag(rest, "--allow-mismatch");
    if (takeFlag(rest, "--batch")) {
        if (!rest.empty()) {
            std::cerr << "vantrelctl score: --batch takes no QUERY or TEXT\n";
            return 2;
        }
        return runBatch(allowMismatch);
    }
    if (rest.size() != 2) {
        std::cerr << "usage: vantrelctl score [--allow-mismatch] QUERY TEXT\n";
        return 2;
    }
    std::string out;
    appendResult(out, vantrel::SearchScorer({}, allowMismatch).match(rest[0], rest[1]));
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// The help names the limits.
static_assert(vantrel::SearchScorer::maxQueryScalars == 128 && vantrel::SearchScorer::maxTextScalars == 4096);

const Registration registration({
    "score",
    "score a query against a text with the window-search scorer",
    "usage: vantrelctl score [--allow-mismatch] QUERY TEXT\n"
    "       vantrelctl score [--allow-mismatch] --batch\n\n"
    "Prints {\"score\": S, \"positions\": [...]} or null when QUERY does not match TEXT.\n"
    "S is a JSON number (round-trip precision) or \"inf\"; positions count Unicode\n"
    "scalars of TEXT. With --batch, reads JSON lines\n"
    "  {\"query\": \"...\", \"text\": \"...\", \"allowOneMismatch\": false}\n"
    "from standard input and prints one result line per input line (an\n"
    "{\"error\": ...} line for a malformed one, and exit status 1).\n"
    "--allow-mismatch lets a query word match with one character left out.\n"
    "Only the first 128 Unicode scalars of a query and the first 4096 of a text\n"
    "take part: a longer text is scored as if it ended there.\n",
    run,
});

} // namespace
} // namespace vantrelctl
