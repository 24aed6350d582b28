// The one place that picks the search kernel for this CPU, and what each
// kernel runs of the scorer.
#include "SearchKit/SearchKernel.h"

#include "SearchKit/ScorerCore.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>

#if VANTREL_X86_KERNELS
#include <sys/platform/x86.h>
#endif

namespace vantrel {

namespace {

std::string_view variableName(SearchKernel kernel)
{
    switch (kernel) {
    case SearchKernel::avx512:
        return "avx512";
    case SearchKernel::avx2:
        return "avx2";
    case SearchKernel::scalar:
        break;
    }
    return "scalar";
}

/// The widest kernel the CPU runs, or a narrower one VANTREL_SEARCH_KERNEL
/// names ("scalar", "avx2"), so that whole programs can be measured on the
/// paths other machines take.
SearchKernel chosen()
{
    SearchKernel widest = SearchKernel::scalar;
    for (SearchKernel kernel : { SearchKernel::avx512, SearchKernel::avx2 }) {
        if (machineRuns(kernel)) {
            widest = kernel;
            break;
        }
    }
    const char* asked = std::getenv("VANTREL_SEARCH_KERNEL");
    if (asked == nullptr)
        return widest;
    for (SearchKernel kernel : { SearchKernel::scalar, SearchKernel::avx2, SearchKernel::avx512 }) {
        if (std::string_view(asked) == variableName(kernel))
            return kernel <= widest ? kernel : widest;
    }
    return widest;
}

/// Read on every text scored; before it is set (static initialisation of
/// another file) it reads as zero, the scalar kernel, which every CPU runs.
std::atomic<SearchKernel> inUse { chosen() };

} // namespace

std::string_view kernelName(SearchKernel kernel)
{
    switch (kernel) {
    case SearchKernel::avx512:
        return "AVX-512";
    case SearchKernel::avx2:
        return "AVX2";
    case SearchKernel::scalar:
        break;
    }
    return "scalar";
}

bool machineRuns(SearchKernel kernel)
{
#if VANTREL_X86_KERNELS
    // The C library has already asked the CPU and the kernel which features
    // are usable; asking the CPU again (cpuid, which a virtual machine may
    // trap) would cost every process that scores a few dozen microseconds.
    switch (kernel) {
    case SearchKernel::avx512:
        return CPU_FEATURE_ACTIVE(AVX512F) && CPU_FEATURE_ACTIVE(AVX512BW) && CPU_FEATURE_ACTIVE(AVX512VL)
            && CPU_FEATURE_ACTIVE(AVX512DQ) && CPU_FEATURE_ACTIVE(AVX512_VBMI);
    case SearchKernel::avx2:
        return CPU_FEATURE_ACTIVE(AVX2);
    case SearchKernel::scalar:
        break;
    }
#endif
    return kernel == SearchKernel::scalar;
}

SearchKernel searchKernel()
{
    return inUse.load(std::memory_order_relaxed);
}

namespace scorer {

const PerTextKernel& perTextKernel()
{
#if VANTREL_X86_KERNELS
    if (searchKernel() != SearchKernel::scalar)
        return avx2Kernel;
#endif
    return scalarKernel;
}

const SharedKernel* sharedKernel()
{
#if VANTREL_X86_KERNELS
    switch (searchKernel()) {
    case SearchKernel::avx512:
        return &avx512SharedKernel;
    case SearchKernel::avx2:
        return &avx2SharedKernel;
    case SearchKernel::scalar:
        break;
    }
#endif
    return nullptr;
}

} // namespace scorer

namespace SearchKernelTesting {
ForceKernel::ForceKernel(SearchKernel kernel)
    : previous_(searchKernel())
{
    if (!machineRuns(kernel))
        throw std::invalid_argument("this CPU cannot run the " + std::string(kernelName(kernel)) + " search kernel");
    inUse.store(kernel, std::memory_order_relaxed);
}

ForceKernel::~ForceKernel()
{
    inUse.store(previous_, std::memory_order_relaxed);
}
} // namespace SearchKernelTesting

} // namespace vantrel
