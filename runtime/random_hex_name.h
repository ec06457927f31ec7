#pragma once
// Random upper-case hexadecimal names for containers and token object files.

#include <p11-kit/pkcs11.h>

#include <cstddef>
#include <string>

namespace keycore {

// Length of a generated name, without its terminating NUL.
constexpr size_t kRandomHexNameLength = 32;

// Smallest capacity RandomHexName accepts; callers have always passed buffers of at least this size.
constexpr size_t kRandomHexNameMinCapacity = 37;

// Writes 32 characters from "0123456789ABCDEF" and a terminating NUL to output. The 16 random bytes come
// from "/dev/urandom"; the first call of the process stirs time and process id into it. Returns CKR_OK,
// or CKR_GENERAL_ERROR when output is null, capacity is below kRandomHexNameMinCapacity, or the random
// source cannot be opened or read; output is untouched on failure.
CK_RV RandomHexName(char* output, size_t capacity);

// RandomHexName over another random source (a file or device path); the seam tests use to feed known
// bytes. Production code calls RandomHexName.
CK_RV RandomHexNameFrom(const char* sourcePath, char* output, size_t capacity);

// The last name generated in this process, or an empty text before the first success.
std::string LastRandomHexName();

} // namespace keycore
