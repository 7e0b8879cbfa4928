// Processor features the engine's byte loops choose from at run time. Where
// the compiler can build AVX2 code beside the baseline (GCC and Clang on
// x86-64), QUORVEX_ENGINE_AVX2 is defined and HasAvx2() says whether this
// processor runs it. Not on Windows: there GCC may spill 32-byte vectors to
// a stack that is only 16-byte aligned.
#ifndef QUORVEX_ENGINE_CPUFEATURES_H
#define QUORVEX_ENGINE_CPUFEATURES_H

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define QUORVEX_ENGINE_AVX2 1

namespace RegexEngine {

// Asked of the processor once.
inline bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

}  // namespace RegexEngine
#endif

#endif
