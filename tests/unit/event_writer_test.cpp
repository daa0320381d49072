#include "protocol/event_writer.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <regex>

namespace {

using nlohmann::json;

TEST(EventLine, FollowsTheLineFormat) {
    struct Case {
        json event;
        std::string line;
    };
    const Case cases[] = {
        {{{"event", "error"}, {"message", "aucun enregistrement en cours"}},
         R"({"event":"error","message":"aucun enregistrement en cours"})"},
        // Accents stay raw UTF-8; quote, backslash and line feed are escaped.
        {{{"event", "error"}, {"message", "déjà \"là\" \\ a\nb"}},
         R"({"event":"error","message":"déjà \"là\" \\ a\nb"})"},
        // Control characters: short escapes where they exist, lowercase \u00xx otherwise.
        {{{"event", "x"}, {"m", std::string("\b\t\f\r\x01\x1f\x7f/", 8)}},
         R"({"event":"x","m":"\b\t\f\r\u0001\u001f)"
         "\x7f"
         R"(/"})"},
        // Members sorted by name, whatever the insertion order.
        {{{"source", "s"}, {"event", "started"}, {"encoder", "e"}, {"path", "p"}, {"mode", "m"}},
         R"({"encoder":"e","event":"started","mode":"m","path":"p","source":"s"})"},
        // Whole floats keep ".0", integers never get one, non-finite becomes null.
        {{{"brightness", 0.0},
          {"fps", 30.0},
          {"seconds", 29.9},
          {"rendered", 0},
          {"event", "stats"},
          {"dropped", -1},
          {"nan", std::numeric_limits<double>::quiet_NaN()},
          {"inf", std::numeric_limits<double>::infinity()}},
         R"({"brightness":0.0,"dropped":-1,"event":"stats","fps":30.0,"inf":null,"nan":null,"rendered":0,"seconds":29.9})"},
        {{{"event", "finished"},
          {"error", nullptr},
          {"stats", {{"event", "stats"}}},
          {"code", 0},
          {"list", json::array({"a", "b"})}},
         R"({"code":0,"error":null,"event":"finished","list":["a","b"],"stats":{"event":"stats"}})"},
        // Invalid UTF-8 from the engine is replaced, never a reason to lose the line.
        {{{"event", "saved"},
          {"path", std::string("a\xff"
                               "b")}},
         R"({"event":"saved","path":"a)"
         "\xEF\xBF\xBD"
         R"(b"})"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format_event_line(c.event), c.line + "\n");
}

TEST(EventLine, NumbersAreTheShortestTextThatReadsBack) {
    struct Case {
        double value;
        std::string text;
    };
    // The first two the library's own printer gave longer; the others pin the layout.
    for (const Case& c :
         {Case{0.1032707, "0.1032707"}, Case{0.00073464, "0.00073464"}, Case{-0.0, "-0.0"},
          Case{1e14, "100000000000000.0"}, Case{1e15, "1e+15"}, Case{0.0001, "0.0001"},
          Case{1.5e-5, "1.5e-05"}, Case{-2.5e100, "-2.5e+100"}, Case{123.456, "123.456"}})
        EXPECT_EQ(format_event_line(json{{"v", c.value}}), "{\"v\":" + c.text + "}\n") << c.text;

    // Wherever the library's text was already shortest, ours has the same layout.
    const std::regex digit("[0-9]");
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        double value =
            std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 120) - 90);
        std::string ours = format_event_line(json{{"v", value}});
        std::string library = json{{"v", value}}.dump() + "\n";
        ours = ours.substr(5, ours.size() - 7);
        library = library.substr(5, library.size() - 7);
        ASSERT_EQ(std::strtod(ours.c_str(), nullptr), value) << ours;
        ASSERT_LE(ours.size(), library.size()) << ours << " " << library;
        if (ours.size() == library.size()) {
            ASSERT_EQ(std::regex_replace(ours, digit, "d"),
                      std::regex_replace(library, digit, "d"));
        }
    }
}

// Engine threads may outlive the last event: nothing of theirs may follow it.
TEST(EventWriterDeathTest, NothingFollowsTheLastEvent) {
    EXPECT_EXIT(
        {
            set_event_stream(stderr);
            emit_last_event({{"event", "bye"}});
            emit_error("sauvegarde du replay refusée");
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "^..event.:.bye..\n$");
}

} // namespace
