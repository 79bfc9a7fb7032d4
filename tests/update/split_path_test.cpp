#include "update/split_path.h"

#include <gtest/gtest.h>

namespace meterload {
namespace {

struct SplitCase {
    const char* path;
    const char* directory;
    const char* fileName;
};

class SplitPathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPathTest, CutsAfterTheLastSeparator)
{
    const SplitCase& c = GetParam();
    const PathParts parts = SplitPath(c.path);
    EXPECT_EQ(parts.directory, c.directory) << "path " << c.path;
    EXPECT_EQ(parts.fileName, c.fileName) << "path " << c.path;
}

INSTANTIATE_TEST_SUITE_P(Paths, SplitPathTest,
                         ::testing::Values(SplitCase{"C:\\fw\\main.bin", "C:\\fw\\", "main.bin"},
                                           SplitCase{"C:\\a\\b\\FW.PAK", "C:\\a\\b\\", "FW.PAK"},
                                           SplitCase{"C:\\main.bin", "C:\\", "main.bin"},
                                           SplitCase{"C:\\fw\\", "C:\\fw\\", ""},
                                           SplitCase{"\\\\server\\share\\x.bin", "\\\\server\\share\\", "x.bin"},
                                           SplitCase{"/tmp/dir/x.pak", "/tmp/dir/", "x.pak"},
                                           SplitCase{"main.bin", "", "main.bin"}));

}  // namespace
}  // namespace meterload
