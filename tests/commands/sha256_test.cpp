// SHA-256 against the FIPS 180-4 examples, fed whole and in odd pieces.
#include "commands/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string Digest(const std::string& data, std::size_t piece) {
  Sha256 s;
  Sha256Begin(&s);
  for (std::size_t at = 0; at < data.size(); at += piece)
    Sha256Add(&s, data.data() + at, std::min(piece, data.size() - at));
  char hex[65];
  Sha256End(&s, hex);
  return hex;
}

TEST(Sha256Test, TheStandardsExamples) {
  const struct {
    std::string data;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1000}})
      EXPECT_EQ(Digest(c.data, piece), c.digest)
          << c.data.size() << " bytes in pieces of " << piece;
  }
  // Around the padding: the length still fits the last block, just does not,
  // a whole block.
  const struct {
    std::size_t n;
    const char* digest;
  } edges[] = {{55, "85528b5baff5639cb8e7daca79d085ac29ac0978e873ed7527158616b2b6c379"},
               {56, "f8ce2f8d6990c639668fe404262f35ed72d8bb145ad6bae786af7284447386df"},
               {64, "ee8e658590c9a5e119400a774415a01db104de1ee6e2c29ec69aa73ef46544d2"}};
  for (const auto& e : edges) {
    EXPECT_EQ(Digest(std::string(e.n, 'q'), 1), e.digest) << e.n;
    EXPECT_EQ(Digest(std::string(e.n, 'q'), e.n), e.digest) << e.n;
  }
}

}  // namespace
