#include "api/engine_api.h"

#include "platform_names.h"

#include <gtest/gtest.h>

namespace {

std::string fake(const std::string& name) {
    return std::string(KALTO_FAKES_DIR) + "/" + name + "/" + name + test_platform::library_suffix;
}

TEST(EngineApiDeathTest, UseBeforeLoadStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(engine(), ::testing::ExitedWithCode(70), "libobs non chargée");
}

TEST(EngineApi, MissingEntryPointNamesTheFirstInTableOrder) {
    auto failure = load_engine(fake("fake_obs_no_version"));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->rfind("obs_get_version_string : ", 0), 0u) << *failure;
    auto last = load_engine(fake("fake_obs_no_bfree"));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->rfind("bfree : ", 0), 0u) << *last;
}

TEST(EngineApi, MissingLibraryGivesTheLoadersReason) {
    auto failure = load_engine(test_platform::join({"nonexistent", test_platform::engine_file}));
    ASSERT_TRUE(failure);
#ifdef _WIN32
    EXPECT_EQ(*failure, "LoadLibraryExW failed");
#else
    EXPECT_NE(failure->find("nonexistent/obs.so"), std::string::npos) << *failure;
#endif
}

TEST(EngineApi, SetOnceKeepsTheFirstTable) {
    ASSERT_FALSE(load_engine(fake("fake_obs")));
    const EngineApi* first = &engine();
    void* first_library = first->library;
    ASSERT_NE(first->obs_startup, nullptr);
    ASSERT_NE(first->bfree, nullptr);
    // Another copy of the library: a second, distinct handle that must be closed again.
    ASSERT_FALSE(load_engine(fake("fake_obs")));
    EXPECT_EQ(&engine(), first);
    EXPECT_EQ(engine().library, first_library);
}

} // namespace
