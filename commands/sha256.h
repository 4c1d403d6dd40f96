// SHA-256 of a backup's files, for the manifest and verify. Written here
// rather than taken from a library: Debian has no SHA-256 library built for
// the MinGW cross build, and the program needs nothing else of one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/state.h"

struct Sha256 {
  std::uint32_t state[8];
  std::uint64_t bytes;
  unsigned char block[64];
  std::size_t used;
};

void Sha256Begin(Sha256* s);
void Sha256Add(Sha256* s, const void* data, std::size_t n);
// The digest as 64 lower-case hex digits and a terminator.
void Sha256End(Sha256* s, char hex[65]);

// The digest and size of a local file; false when it cannot be read.
bool Sha256OfFile(const WCHAR* path, char hex[65], std::uint64_t* size);
