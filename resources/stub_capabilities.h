// What a stub understands beyond the package format's first form, as a
// number in its RCDATA resource STUB_CAPABILITIES_ID: the packer reads it
// before pairing a package that needs one of these with the stub, and a
// stub built before the resource existed reads as 0. Plain #defines, as the
// resource compiler reads this file too.
#pragma once

#define STUB_CAPABILITIES_ID 1

// Reads PH_UTF8_NAMES: names converted with CP_UTF8.
#define STUB_CAN_UTF8_NAMES 0x1

// Reads the quiet uninstall arguments' record at the extra region's start.
#define STUB_CAN_QUIET_UNINSTALL 0x2

// Reads chunked packages: the chunk table before the prefix record.
#define STUB_CAN_CHUNKS 0x4

#define STUB_CAPABILITIES (STUB_CAN_UTF8_NAMES | STUB_CAN_QUIET_UNINSTALL | STUB_CAN_CHUNKS)

// The package hash slot: an RCDATA resource of 32 zero bytes, into which the
// packer writes the SHA-256 of the package region it appends (docs/packer.md),
// and which the stub compares with what it reads. All zero: nothing is bound.
#define STUB_PACKAGE_HASH_ID 2
