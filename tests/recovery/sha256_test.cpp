// SHA-256 against the published test vectors, fed whole and in odd pieces.
#include <gtest/gtest.h>

#include <string>

#include "sha256.h"

namespace tamberlin::recovery {
namespace {

TEST(Sha256Test, PublishedVectorsWholeAndInPieces) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    const auto* p = reinterpret_cast<const std::uint8_t*>(c.input.data());
    Sha256 whole;
    whole.Update(p, c.input.size());
    EXPECT_EQ(whole.Hex_Digest(), c.digest);
    Sha256 pieces;  // 1, 2, 3... bytes at a time cross every block edge
    std::size_t at = 0;
    for (std::size_t n = 1; at < c.input.size(); ++n) {
      const std::size_t take = std::min(n % 97, c.input.size() - at);
      pieces.Update(p + at, take);
      at += take;
    }
    EXPECT_EQ(pieces.Hex_Digest(), c.digest);
  }
}

}  // namespace
}  // namespace tamberlin::recovery
