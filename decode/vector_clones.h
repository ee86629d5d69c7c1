// Hot loops are compiled twice, for AVX2 and for the baseline, and the loader picks the one
// the processor runs. Both perform the same IEEE operations lane by lane (no fused
// multiply-add: the build disables contraction), so their results are identical.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KAVEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KAVEL_VECTOR_CLONES
#endif
