#include "protocol/event_writer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

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

} // namespace
