#include "api/engine_log.h"

#include <cwchar>
#include <gtest/gtest.h>

namespace {

std::optional<std::string> render(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    auto line = render_log_line(level, format, args);
    va_end(args);
    return line;
}

TEST(EngineLog, LevelNames) {
    struct Case {
        int level;
        const char* name;
    };
    const Case cases[] = {{-5, "ERREUR"}, {100, "ERREUR"}, {101, "ATTENTION"}, {200, "ATTENTION"},
                          {201, "info"},  {300, "info"},   {301, nullptr},     {400, nullptr}};
    for (const Case& c : cases) {
        const char* name = log_level_name(c.level);
        if (c.name)
            EXPECT_STREQ(name, c.name) << c.level;
        else
            EXPECT_EQ(name, nullptr) << c.level;
    }
}

TEST(EngineLog, RendersWithArguments) {
    EXPECT_EQ(render(200, "%s vaut %d", "x", 42).value_or(""), "[obs ATTENTION] x vaut 42\n");
    EXPECT_EQ(render(300, "fin\n").value_or(""), "[obs info] fin\n\n");
    EXPECT_FALSE(render(400, "debug %d", 1));
}

TEST(EngineLog, CutsAt4095Bytes) {
    std::string long_text(5000, 'a');
    std::string line = render(100, "%s", long_text.c_str()).value_or("");
    EXPECT_EQ(line, "[obs ERREUR] " + std::string(4095, 'a') + "\n");
}

TEST(EngineLog, ReplacesInvalidUtf8IncludingACutCharacter) {
    EXPECT_EQ(render(100, "a\xff"
                          "b")
                  .value_or(""),
              "[obs ERREUR] a\xEF\xBF\xBD"
              "b\n");
    // "é" straddling the 4095-byte limit loses its second byte.
    std::string text = std::string(4094, 'a') + "é";
    EXPECT_EQ(render(100, "%s", text.c_str()).value_or(""),
              "[obs ERREUR] " + std::string(4094, 'a') + "\xEF\xBF\xBD\n");
}

TEST(EngineLog, UnrenderableFormatPrintsNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "the MinGW runtime renders a lone surrogate instead of failing";
#endif
    // A lone surrogate cannot be converted to a multibyte string.
    const wchar_t invalid[] = {static_cast<wchar_t>(0xD800), 0};
    EXPECT_FALSE(render(100, "%ls", invalid));
}

} // namespace
