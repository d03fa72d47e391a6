// Profile parser cases found by fuzzing (fuzz/profile_reader_fuzzer.cc); each input is also in
// the seed corpus fuzz/corpus/profile_reader/.
#include <gtest/gtest.h>

#include <string>

#include "platform/profile_reader.h"

namespace kestario {
namespace {

std::string RawListing(const std::string& file, const char* section) {
  ProfileData data;
  EXPECT_TRUE(data.Parse(file.data(), file.size()));
  const size_t size = data.ListSection(section, nullptr, 0);
  std::string bytes(size, 'x');
  EXPECT_EQ(size, data.ListSection(section, &bytes[0], size));
  return bytes;
}

// A line that begins with a NUL byte has neither name nor value. It used to be listed as an empty
// entry, which ends a listing: the DEFINE entries after it were lost.
TEST(ProfileReaderFuzzTest, LineStartingWithNulDoesNotEndTheListing) {
  const std::string file("[DEFINE]\n<A>=1\n\0z\n<B>=2\n", 24);
  EXPECT_EQ(std::string("<A>=1\0<B>=2\0\0", 13), RawListing(file, "DEFINE"));
}

TEST(ProfileReaderFuzzTest, NulLineAloneGivesAnEmptyListing) {
  EXPECT_EQ(std::string("\0", 1), RawListing(std::string("[S]\n\0\n", 6), "S"));
}

TEST(ProfileReaderFuzzTest, EntryWithEmptyNameAndValueIsStillListed) {
  EXPECT_EQ(std::string("=v\0\0", 4), RawListing("[S]\n=v\n", "S"));
}

}  // namespace
}  // namespace kestario
