// Which instruction set the search code runs on: chosen once from the CPU,
// in one place, and asked by every part of SearchKit that has a faster path.
#pragma once

#include <string_view>

// The x86-64 paths beyond the baseline are built with GCC's per-function
// targets into the same program and chosen at run time; other compilers and
// other CPUs (ARM through the compiler's own vectorising) run the baseline.
// The fuzzing build (clang, for the machine it runs on) sets it itself.
#if !defined(VANTREL_X86_KERNELS)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VANTREL_X86_KERNELS 1
#else
#define VANTREL_X86_KERNELS 0
#endif
#endif

namespace vantrel {

enum class SearchKernel {
    /// Any CPU: SSE2 (part of x86-64 itself) or plain C++.
    scalar,
    /// x86-64-v3: 256-bit registers.
    avx2,
    /// AVX-512 with byte permutes (F, BW, VL, DQ, VBMI): eight texts share a
    /// pass, text is read 64 bytes at a time.
    avx512,
};

/// "scalar", "AVX2" or "AVX-512".
std::string_view kernelName(SearchKernel kernel);
/// Whether this CPU can run `kernel`.
bool machineRuns(SearchKernel kernel);
/// The kernel in use: the widest the CPU runs, or a narrower one named by
/// the environment variable VANTREL_SEARCH_KERNEL ("scalar", "avx2"), read
/// at start-up, unless a test forced another.
SearchKernel searchKernel();

namespace SearchKernelTesting {
/// Makes every path of SearchKit run `kernel` for the guard's lifetime,
/// process-wide, so tests can check each against the plain scorer. Throws
/// std::invalid_argument when the CPU cannot run it.
class ForceKernel {
public:
    explicit ForceKernel(SearchKernel kernel);
    ~ForceKernel();
    ForceKernel(const ForceKernel&) = delete;
    ForceKernel& operator=(const ForceKernel&) = delete;

private:
    SearchKernel previous_;
};
} // namespace SearchKernelTesting

} // namespace vantrel
