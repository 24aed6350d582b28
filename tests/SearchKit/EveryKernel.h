// A fixture that runs its TEST_Ps once per search kernel, each holding its
// kernel for the test's lifetime and skipped, by name, where the CPU lacks it.
// SearchScorerTests.cpp instantiates it for the whole test program.
#pragma once

#include "SearchKit/SearchKernel.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel::test {

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
