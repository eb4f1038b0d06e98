// Fixture of the passport library tests: the environment with counting memory functions, and a real library trace file
// receiving the library's diagnostics. Every test ends with no passport memory left.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "dptrc/dptrc.h"
#include "passport/epp.h"
#include "passport/epp_library_trace.h"
#include "passport/epp_record.h"
#include "support/test_files.h"

namespace epptest {

using Bytes = std::vector<uint8_t>;

inline std::atomic<long> liveBlocks{0};
inline std::atomic<bool> failAllocations{false};

inline void* countingAlloc(size_t bytes) {
  if (failAllocations.load()) return nullptr;
  ++liveBlocks;
  return std::malloc(bytes);
}
inline void countingFree(void* block) {
  if (block != nullptr) --liveBlocks;
  std::free(block);
}

class EppTest : public ::testing::Test {
 protected:
  void SetUp() override { setLevel(3); }
  void TearDown() override {
    failAllocations = false;
    trcCloseLibraryFile();
    EXPECT_EQ(liveBlocks.load(), 0) << "passport memory left behind";
  }
  // A fresh trace file; the library passes lines up to level on to it.
  void setLevel(int level) {
    trcCloseLibraryFile();
    trcOpenLibraryFile(u"epp", dir_.path16(), 3);
    ASSERT_EQ(eppSetEnvironment(8, 3, countingAlloc, countingFree, eppTraceToLibraryLog, level), EPP_OK);
  }
  std::string trace() const { return testsupport::readFile(dir_.file("epp_mox.trc")); }
  bool traced(const std::string& text) const { return trace().find(text) != std::string::npos; }

  testsupport::TempDir dir_;
};

// A passport that deletes itself: a new one, or one handed out by the library.
struct Passport {
  Passport() { EXPECT_EQ(eppInit(&h), EPP_OK); }
  explicit Passport(EppHandle given) : h(given) {}
  ~Passport() { EXPECT_TRUE(h == nullptr || eppDelete(h) == EPP_OK); }
  Passport(const Passport&) = delete;
  operator EppHandle() const { return h; }
  EppPassport* operator->() const { return h; }
  EppHandle h = nullptr;
};

inline Bytes serialize(EppHandle h) {
  size_t needed = 0;
  EXPECT_EQ(eppNeededNetworkSize(h, &needed), EPP_OK);
  Bytes out(needed);
  size_t used = 0;
  EXPECT_EQ(eppSerialize(h, out.data(), out.size(), &used), EPP_OK);
  out.resize(used);
  return out;
}

inline int32_t setText(int32_t (*set)(EppHandle, const char16_t*, size_t), EppHandle h, const std::u16string& v) {
  return set(h, v.data(), v.size());
}

inline uint16_t get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }
inline void put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
inline std::string text(const Bytes& b, size_t at, size_t n) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}

}  // namespace epptest
