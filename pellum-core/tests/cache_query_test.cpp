#include "pellum_core/cache_query.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace pellum_core::cache_query {
namespace {

struct ParseCase {
  const char* text;
  std::optional<std::uint64_t> expected;
};

TEST(ParseSize, ReadsWhatTheSystemWrites) {
  const ParseCase cases[] = {
      {"262144", 262144},
      {"  262144\n", 262144},
      {"+64", 64},
      {"0", 0},
      {"32K\n", 32768},
      {"1024K", 1048576},
      {"8M", 8388608},
      {"1G", 1073741824},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},  // one past the largest word
      {"17179869184G", std::nullopt},          // 2^34 GiB overflows in the suffix
      {"", std::nullopt},
      {" \n", std::nullopt},
      {"+", std::nullopt},
      {"K", std::nullopt},
      {"-1", std::nullopt},
      {"12 34", std::nullopt},
      {"32k", std::nullopt},
      {"0x40", std::nullopt},
      {"sysctl: unknown oid", std::nullopt},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    EXPECT_EQ(parse_size(c.text), c.expected);
  }
}

// A fake sysfs cache directory in a temporary folder.
class SysfsDir : public testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("pellum_sysfs_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void entry(int index, const char* level, const char* type, const char* size, const char* line) {
    const auto dir = root_ / ("index" + std::to_string(index));
    std::filesystem::create_directories(dir);
    write(dir / "level", level);
    write(dir / "type", type);
    write(dir / "size", size);
    write(dir / "coherency_line_size", line);
  }

  std::optional<std::uint64_t> value(CacheKey key) const { return sysfs_value(key, root_.string()); }

 private:
  static void write(const std::filesystem::path& path, const char* text) { std::ofstream(path) << text; }

  std::filesystem::path root_;
};

TEST_F(SysfsDir, PicksDataAndUnifiedCachesByLevel) {
  entry(0, "1\n", "Data\n", "48K\n", "64\n");
  entry(1, "1\n", "Instruction\n", "32K\n", "128\n");
  entry(2, "2\n", "Unified\n", "1280K\n", "64\n");
  entry(3, "3\n", "Unified\n", "30720K\n", "64\n");
  EXPECT_EQ(value(CacheKey::L1Data), 49152u);
  EXPECT_EQ(value(CacheKey::L2), 1310720u);
  EXPECT_EQ(value(CacheKey::L3), 31457280u);
  EXPECT_EQ(value(CacheKey::LineSize), 64u);
}

TEST_F(SysfsDir, InstructionCacheNeverAnswers) {
  entry(0, "1\n", "Instruction\n", "32K\n", "128\n");
  entry(1, "2\n", "Instruction\n", "512K\n", "64\n");
  EXPECT_EQ(value(CacheKey::L1Data), std::nullopt);
  EXPECT_EQ(value(CacheKey::LineSize), std::nullopt);
  EXPECT_EQ(value(CacheKey::L2), std::nullopt);
}

TEST_F(SysfsDir, StopsAtTheFirstMissingEntry) {
  entry(0, "1\n", "Data\n", "32K\n", "64\n");
  entry(2, "2\n", "Unified\n", "1024K\n", "64\n");  // index1 is missing
  EXPECT_EQ(value(CacheKey::L1Data), 32768u);
  EXPECT_EQ(value(CacheKey::L2), std::nullopt);
  EXPECT_EQ(value(CacheKey::L3), std::nullopt);
}

TEST_F(SysfsDir, UnreadableSizeIsNoAnswer) {
  entry(0, "1\n", "Data\n", "\n", "64\n");
  EXPECT_EQ(value(CacheKey::L1Data), std::nullopt);
  EXPECT_EQ(value(CacheKey::LineSize), 64u);
}

TEST(SysfsValue, MissingDirectoryIsNoAnswer) {
  EXPECT_EQ(sysfs_value(CacheKey::L2, "/nonexistent/pellum/cache"), std::nullopt);
}

TEST(Cpuid, LeafZeroNamesAVendor) {
  // Leaf 0 exists on every x86-64 processor and spells the vendor in EBX, EDX, ECX.
  const CpuidRegs regs = cpuid(0, 0);
  EXPECT_GE(regs.eax, 1u);
  EXPECT_NE(regs.ebx, 0u);
}

}  // namespace
}  // namespace pellum_core::cache_query
