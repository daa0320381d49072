#include "main/bring_up.h"
#include "main/command_loop.h"

#include "platform_names.h"

#include <gtest/gtest.h>

namespace {

using test_platform::join;

TEST(Paths, ExecutableDirectory) {
    EXPECT_EQ(executable_directory(join({"", "opt", "kalto", "bin", "64bit", "kalto-obs"})),
              join({"", "opt", "kalto", "bin", "64bit"}));
    EXPECT_EQ(executable_directory("kalto-obs"), ".");
    EXPECT_EQ(executable_directory(""), ".");
    EXPECT_EQ(executable_directory(join({"", "kalto-obs"})), test_platform::separator);
}

TEST(Paths, ModulesAreTwoLevelsUpWithoutNormalising) {
    std::string root = install_root(join({"", "opt", "kalto", "bin", "64bit"}));
    EXPECT_EQ(root, join({"", "opt", "kalto", "bin", "64bit", "..", ".."}));
    EXPECT_EQ(module_library_path(root, "win-capture"),
              join({root, "core", "win-capture", "win-capture" + test_platform::library_suffix}));
    EXPECT_EQ(module_data_path(root, "obs-x264"), join({root, "core", "obs-x264", "data"}));
}

TEST(BlankLines, UnicodeWhiteSpaceOnly) {
    EXPECT_TRUE(is_blank_line(""));
    EXPECT_TRUE(is_blank_line(" \t\r\v\f"));
    EXPECT_TRUE(is_blank_line("\xC2\xA0\xE3\x80\x80\xE2\x80\xA8")); // U+00A0 U+3000 U+2028
    EXPECT_FALSE(is_blank_line("\xC2\xA0{}\xC2\xA0"));
    EXPECT_FALSE(is_blank_line("\xE2\x80\x8B")); // U+200B is not White_Space
}

} // namespace
