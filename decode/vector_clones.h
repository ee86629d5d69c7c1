// Hot loops are compiled three times, for AVX-512 (x86-64-v4), for AVX2 and for the baseline,
// and the loader picks the one the processor runs. All perform the same IEEE operations lane
// by lane (no fused multiply-add: the build disables contraction), so their results are
// identical.
#pragma once

// Windows modules have no loader-chosen functions: the baseline only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(_WIN32)
#define KAVEL_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define KAVEL_VECTOR_CLONES
#endif
