// SHA-256 (FIPS 180-4), small and portable: the stub checks with it that the
// package it reads is the one the packer bound to its image, and the packer
// computes the bound hash with it. No C runtime, no tables beyond the
// standard's constants.
#pragma once
#include <stdint.h>

enum : uint32_t { SHA256_SIZE = 32 };

struct Sha256 {
  uint32_t State[8];
  uint64_t Length;  // bytes added so far
  uint8_t Buffer[64];
};

void Sha256Init(Sha256* sha);
void Sha256Add(Sha256* sha, const void* data, uint32_t size);
// Writes the digest; sha must be initialised again before it is reused.
void Sha256Finish(Sha256* sha, uint8_t digest[SHA256_SIZE]);
