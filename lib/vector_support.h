// Which vector instructions the conversion's fast paths may use.
//
// SSE2 is part of every x86-64 processor: DBGPARSE_SSE2 is defined there,
// unless DBGPARSE_PORTABLE_SCAN asks for the plain loops (to test them).
// DBGPARSE_AVX2 is defined where the compiler can build a function for AVX2
// alone, to be called only on processors that have it, unless
// DBGPARSE_NO_AVX2 asks for SSE2 alone (to test that path).
#pragma once

#if !defined(DBGPARSE_PORTABLE_SCAN) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define DBGPARSE_SSE2 1
#include <emmintrin.h>
#if !defined(DBGPARSE_NO_AVX2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DBGPARSE_AVX2 1
#include <immintrin.h>
#endif
#endif
