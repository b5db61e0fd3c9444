// Marks a hot loop to be built twice, plainly and for AVX2 (or three times, also for AVX-512),
// with the version picked once when the program loads. Every version does the same single
// operations in the same order (none fuses a multiply and an add), so all give equal results bit
// for bit.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VEXAL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
// Loops that gain from twice the lanes also for AVX-512: the lifting and the colour transform in
// double precision, the dequantiser and the rounding. AVX-512 brings fused multiply-add, so the codec is built with -ffp-contract=off, which
// keeps every multiply and add a single rounded operation there too.
#define VEXAL_WIDE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VEXAL_AVX2_CLONES
#define VEXAL_WIDE_CLONES
#endif

// For the helpers of such a loop: inlined into each version, so they are built for AVX2 too.
#if defined(__GNUC__)
#define VEXAL_INLINE inline __attribute__((always_inline))
#else
#define VEXAL_INLINE inline
#endif
