// A hive file mapped into memory, and what happens when it shrinks.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/hive_bytes_posix.h"
#include "tests/temp_prefix.h"

namespace {

TEST(HiveBytesTest, MapsRegularFilesOnly) {
  TempPrefix prefix;
  registry::HiveBytes bytes;
  EXPECT_FALSE(registry::HiveBytes::MapFile(prefix.hive().c_str(), &bytes));
  EXPECT_FALSE(registry::HiveBytes::MapFile(prefix.path().c_str(), &bytes));
  EXPECT_FALSE(registry::HiveBytes::MapFile("/dev/null", &bytes));

  prefix.WriteHive("");
  ASSERT_TRUE(registry::HiveBytes::MapFile(prefix.hive().c_str(), &bytes));
  EXPECT_EQ(bytes.size(), 0u);

  prefix.WriteHive("WINE REGISTRY Version 2\n");
  ASSERT_TRUE(registry::HiveBytes::MapFile(prefix.hive().c_str(), &bytes));
  EXPECT_EQ(std::string(bytes.data(), bytes.size()),
            "WINE REGISTRY Version 2\n");
}

TEST(HiveBytesTest, AFileCutShortWhileMappedReadsAsZeros) {
  TempPrefix prefix;
  const std::string text(3 * 65536, 'x');
  prefix.WriteHive(text);
  registry::HiveBytes bytes;
  ASSERT_TRUE(registry::HiveBytes::MapFile(prefix.hive().c_str(), &bytes));
  ASSERT_EQ(truncate(prefix.hive().c_str(), 100), 0);

  // Without the guard this read would end the process with SIGBUS.
  std::size_t zeros = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) zeros += bytes.data()[i] == 0;
  EXPECT_EQ(bytes.data()[0], 'x');
  EXPECT_GT(zeros, 65536u);
}

}  // namespace
