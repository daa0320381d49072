#include "main/bring_up.h"
#include "main/command_loop.h"

#include <gtest/gtest.h>

namespace {

TEST(Paths, ExecutableDirectory) {
    EXPECT_EQ(executable_directory("/opt/kalto/bin/64bit/kalto-obs"), "/opt/kalto/bin/64bit");
    EXPECT_EQ(executable_directory("kalto-obs"), ".");
    EXPECT_EQ(executable_directory(""), ".");
    EXPECT_EQ(executable_directory("/kalto-obs"), "/");
}

TEST(Paths, ModulesAreTwoLevelsUpWithoutNormalising) {
    std::string root = install_root("/opt/kalto/bin/64bit");
    EXPECT_EQ(root, "/opt/kalto/bin/64bit/../..");
    EXPECT_EQ(module_library_path(root, "win-capture"),
              "/opt/kalto/bin/64bit/../../core/win-capture/win-capture.so");
    EXPECT_EQ(module_data_path(root, "obs-x264"), "/opt/kalto/bin/64bit/../../core/obs-x264/data");
}

TEST(BlankLines, UnicodeWhiteSpaceOnly) {
    EXPECT_TRUE(is_blank_line(""));
    EXPECT_TRUE(is_blank_line(" \t\r\v\f"));
    EXPECT_TRUE(is_blank_line("\xC2\xA0\xE3\x80\x80\xE2\x80\xA8")); // U+00A0 U+3000 U+2028
    EXPECT_FALSE(is_blank_line("\xC2\xA0{}\xC2\xA0"));
    EXPECT_FALSE(is_blank_line("\xE2\x80\x8B")); // U+200B is not White_Space
}

} // namespace
