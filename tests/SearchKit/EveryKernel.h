// A fixture that runs its TEST_Ps once per search kernel, each holding its
// kernel for the test's lifetime and skipped, by name, where the CPU lacks it.
// SearchScorerTests.cpp instantiates it for the whole test program.
#pragma once

#include "SearchKit/SearchKernel.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vantrel::test {

/// `count` lines of one to `maxPieces` random pieces each.
inline std::vector<std::string> randomLines(unsigned seed, const std::vector<std::string>& pieces, int count, int maxPieces)
{
    std::mt19937 random(seed);
    std::vector<std::string> lines(count);
    for (std::string& line : lines)
        for (int k = random() % maxPieces; k >= 0; --k)
            line += pieces[random() % pieces.size()];
    return lines;
}

class EveryKernel : public testing::TestWithParam<SearchKernel> {
protected:
    void SetUp() override
    {
        if (!machineRuns(GetParam()))
            GTEST_SKIP() << "this CPU cannot run the " << kernelName(GetParam()) << " kernel";
        forced_.emplace(GetParam());
    }

private:
    std::optional<SearchKernelTesting::ForceKernel> forced_;
};

} // namespace vantrel::test
