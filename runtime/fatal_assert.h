#pragma once
// Assertions for broken preconditions. Unlike <cassert> they stay in release builds: a broken
// precondition in a library that other processes depend on must stop this process rather than let
// it corrupt shared state. The message names the method by its full signature so that a report
// from the field points at one place.

namespace keycore {

// Writes "file:line: signature: Assertion `condition' failed." to stderr and aborts.
[[noreturn]] void AssertionFailed(const char* condition, const char* signature, const char* file, int line) noexcept;

} // namespace keycore

// KEYCORE_ASSERT(res == 0, "void ThreadMutex::Lock()")
#define KEYCORE_ASSERT(condition, signature)                                                                           \
    ((condition) ? static_cast<void>(0) : ::keycore::AssertionFailed(#condition, signature, __FILE__, __LINE__))
