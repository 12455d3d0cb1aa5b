// The portable SHA-256 against the FIPS 180-2 test vectors, fed whole and
// in uneven pieces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/sha256.h"

namespace {

std::string Digest(const std::vector<uint8_t>& data, uint32_t piece) {
  Sha256 sha;
  Sha256Init(&sha);
  for (size_t at = 0; at < data.size(); at += piece) {
    uint32_t n = static_cast<uint32_t>(data.size() - at < piece ? data.size() - at : piece);
    Sha256Add(&sha, data.data() + at, n);
  }
  uint8_t digest[SHA256_SIZE];
  Sha256Finish(&sha, digest);
  std::string hex;
  for (uint8_t b : digest) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02x", b);
    hex += pair;
  }
  return hex;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST(Sha256, Fips180Vectors) {
  const struct {
    std::vector<uint8_t> Message;
    const char* Digest;
  } vectors[] = {
      {Bytes("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::vector<uint8_t>(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {{}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
  };
  for (const auto& v : vectors) {
    for (uint32_t piece : {1u, 7u, 64u, 1000000u}) {
      if (piece == 1 && v.Message.size() > 1000) continue;
      EXPECT_EQ(Digest(v.Message, piece), v.Digest) << v.Message.size() << " bytes in pieces of " << piece;
    }
  }
}

}  // namespace
