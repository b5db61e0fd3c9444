// Marks a hot loop to be built twice, plainly and for AVX2, with the version picked once when
// the program loads. The AVX2 version does the same single operations in the same order (AVX2
// does not bring fused multiply-add), so both give equal results bit for bit.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VEXAL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VEXAL_AVX2_CLONES
#endif

// For the helpers of such a loop: inlined into each version, so they are built for AVX2 too.
#if defined(__GNUC__)
#define VEXAL_INLINE inline __attribute__((always_inline))
#else
#define VEXAL_INLINE inline
#endif
