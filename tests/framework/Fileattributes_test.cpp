// FileGetAttr: the read-only bit, directories and the failure value.
#include "Fileattributes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

TEST(FrameworkFileGetAttr, ReportsReadOnlyDirectoryAndFailure)
{
    char pattern[] = "/tmp/quorvex-attr-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string file = dir + "/f.txt";
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);

    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    EXPECT_EQ(Vcl::FileGetAttr(file.c_str()), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(Vcl::FileGetAttr(file.c_str()), Vcl::faReadOnly);
    EXPECT_EQ(Vcl::FileGetAttr(dir.c_str()) & Vcl::faDirectory, Vcl::faDirectory);
    EXPECT_EQ(Vcl::FileGetAttr(dir.c_str()) & Vcl::faReadOnly, 0);
    EXPECT_EQ(Vcl::FileGetAttr((dir + "/missing").c_str()), -1);
    EXPECT_EQ(Vcl::FileGetAttr(""), -1);

    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
