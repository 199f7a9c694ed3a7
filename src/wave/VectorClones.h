// Hot loops built twice on x86-64, for AVX2 and for the baseline; the loader
// picks the one the processor runs. Elsewhere the attribute is empty.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && !defined(__clang__)
#define CORVELLA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define CORVELLA_VECTOR_CLONES
#endif
