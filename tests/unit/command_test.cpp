#include "protocol/command.h"

#include <gtest/gtest.h>

namespace {

const std::string source_window = R"("source":{"kind":"window","window":"w"})";
const std::string audio_none = R"("audio":{"kind":"none"})";
const std::string sizes =
    R"("baseWidth":1920,"baseHeight":1080,"width":1280,"height":720,"fps":30,"bitrate":6000)";

std::string start_with(const std::string& members) {
    return R"({"cmd":"start","mode":"file","path":"p",)" + source_window + "," + sizes + "," +
           audio_none + (members.empty() ? "" : "," + members) + "}";
}

std::string fault_of(const std::string& line) {
    ParsedCommand parsed = parse_command(line);
    EXPECT_FALSE(parsed.command) << line;
    return parsed.fault;
}

Command command_of(const std::string& line) {
    ParsedCommand parsed = parse_command(line);
    EXPECT_TRUE(parsed.command) << line << " -> " << parsed.fault;
    return parsed.command.value_or(Command{Command::Quit{}});
}

Start start_of(const std::string& line) {
    Command c = command_of(line);
    EXPECT_TRUE(std::holds_alternative<Start>(c.value)) << line;
    return std::holds_alternative<Start>(c.value) ? std::get<Start>(c.value) : Start{};
}

struct FaultCase {
    std::string line;
    std::string fault; // exact, or a prefix when `prefix` is set
    bool prefix = false;
};

class ParseFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ParseFault, DescribesTheFirstFault) {
    const FaultCase& c = GetParam();
    std::string fault = fault_of(c.line);
    if (c.prefix)
        EXPECT_EQ(fault.substr(0, c.fault.size()), c.fault) << c.line << " -> " << fault;
    else
        EXPECT_EQ(fault, c.fault) << c.line;
}

const std::string at = " at line 1 column ";

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ParseFault,
    ::testing::Values(
        // Faults of the line itself carry a position.
        FaultCase{R"({"cmd":"quit","cmd":"quit"})", "duplicate field `cmd`" + at, true},
        FaultCase{R"({"cmd":"Stop"})",
                  "unknown variant `Stop`, expected one of `start`, `mask`, `save`, `stop`, "
                  "`stats`, `quit`" +
                      at,
                  true},
        FaultCase{R"({"cmd":5})", "invalid type: integer `5`, expected variant identifier" + at,
                  true},
        FaultCase{R"({"cmd":null})", "invalid type: null, expected variant identifier" + at, true},
        FaultCase{R"({"cmd":{}})", "invalid type: map, expected variant identifier" + at, true},
        FaultCase{"{}", "missing field `cmd`" + at, true},
        FaultCase{"[]", "missing field `cmd`" + at, true},
        FaultCase{"42", "invalid type: integer `42`, expected internally tagged enum Command" + at,
                  true},
        FaultCase{R"("stop")",
                  "invalid type: string \"stop\", expected internally tagged enum Command" + at,
                  true},
        FaultCase{"-1.5",
                  "invalid type: floating point `-1.5`, expected internally tagged enum Command" +
                      at,
                  true},
        FaultCase{"true",
                  "invalid type: boolean `true`, expected internally tagged enum Command" + at,
                  true},
        FaultCase{"null", "invalid type: null, expected internally tagged enum Command" + at, true},
        FaultCase{R"({"cmd":"stop"} {"cmd":"stop"})", "syntax error", true},
        FaultCase{R"({"cmd":"stop",})", "syntax error", true},
        FaultCase{"{'cmd':'stop'}", "syntax error", true},
        FaultCase{R"({"cmd":"stop"} x)", "syntax error while parsing value - invalid literal; last "
                                         R"(read: '"stop"} x'; expected end of input)" +
                                             at + "16"},
        FaultCase{R"({"cmd":"stop"}])",
                  "syntax error while parsing value - unexpected ']'; expected end of input" + at +
                      "15"},
        // Nothing after a NUL byte may vanish: it is trailing text like any other.
        FaultCase{
            std::string("{\"cmd\":\"stats\"}\0{\"cmd\":\"quit\"}", 30),
            "syntax error while parsing value - unexpected '<U+0000>'; expected end of input" + at +
                "16"},
        FaultCase{
            std::string("{\"cmd\":\"stats\"} \0", 17),
            "syntax error while parsing value - unexpected '<U+0000>'; expected end of input" + at +
                "17"},
        FaultCase{"NaN", "syntax error", true},
        // A tag fault comes before a later syntax fault, as it was read first.
        FaultCase{R"({"cmd":"Stop", oops)", "unknown variant `Stop`", true},
        // Payload faults carry no position.
        FaultCase{R"({"cmd":"mask"})", "missing field `hidden`"},
        FaultCase{R"({"cmd":"mask","hidden":1})", "invalid type: integer `1`, expected a boolean"},
        FaultCase{R"({"cmd":"mask","hidden":true,"hidden":true})", "duplicate field `hidden`"},
        FaultCase{start_with(R"("replaySeconds":null)"), "invalid type: null, expected u32"},
        FaultCase{R"({"cmd":"start","path":"p"})", "missing field `mode`"},
        FaultCase{start_with(R"("fps":30)"), "duplicate field `fps`"},
        FaultCase{start_with("").replace(start_with("").find("\"fps\":30"), 8, "\"fps\":30.0"),
                  "invalid type: floating point `30.0`, expected u32"},
        FaultCase{start_with("").replace(start_with("").find("\"fps\":30"), 8, "\"fps\":-1"),
                  "invalid value: integer `-1`, expected u32"},
        FaultCase{
            start_with("").replace(start_with("").find("\"fps\":30"), 8, "\"fps\":4294967296"),
            "invalid value: integer `4294967296`, expected u32"},
        FaultCase{start_with("").replace(start_with("").find("\"fps\":30"), 8, "\"fps\":3e1"),
                  "invalid type: floating point `30.0`, expected u32"},
        FaultCase{start_with("").replace(start_with("").find("\"fps\":30"), 8, "\"fps\":\"30\""),
                  "invalid type: string \"30\", expected u32"},
        FaultCase{start_with(R"("encoder":5)"), "invalid type: integer `5`, expected a string"},
        FaultCase{start_with(R"("mode":"x")"), "duplicate field `mode`"},
        // Nested choices.
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":{"kind":2,"monitor":"m"}})",
                  "invalid value: integer `2`, expected variant index 0 <= i < 2"},
        FaultCase{
            R"({"cmd":"start","mode":"f","path":"p","source":{"kind":"Window","window":"w"}})",
            "unknown variant `Window`, expected `window` or `monitor`"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":{"window":"w"}})",
                  "missing field `kind`"},
        FaultCase{
            R"({"cmd":"start","mode":"f","path":"p","source":{"kind":"window","kind":"window"}})",
            "duplicate field `kind`"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":{"kind":true}})",
                  "invalid type: boolean `true`, expected variant identifier"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":{"kind":-1}})",
                  "invalid type: integer `-1`, expected variant identifier"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":{"kind":"window"}})",
                  "missing field `window`"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":"w"})",
                  "invalid type: string \"w\", expected internally tagged enum Source"},
        FaultCase{
            R"({"cmd":"start","mode":"f","path":"p","source":{"kind":"monitor","monitor":"m","method":1.0}})",
            "invalid type: floating point `1.0`, expected i64"},
        FaultCase{
            R"({"cmd":"start","mode":"f","path":"p","source":{"kind":"monitor","monitor":"m","method":9223372036854775808}})",
            "invalid value: integer `9223372036854775808`, expected i64"},
        FaultCase{start_with("").replace(start_with("").find(audio_none), audio_none.size(),
                                         R"("audio":"none")"),
                  "invalid type: string \"none\", expected internally tagged enum Audio"},
        FaultCase{start_with("").replace(start_with("").find(audio_none), audio_none.size(),
                                         R"("audio":{"kind":"loud"})"),
                  "unknown variant `loud`, expected one of `process`, `desktop`, `none`"},
        FaultCase{start_with("").replace(start_with("").find(audio_none), audio_none.size(),
                                         R"("audio":{"kind":3})"),
                  "invalid value: integer `3`, expected variant index 0 <= i < 3"},
        // Array forms.
        FaultCase{R"(["mask"])",
                  "invalid length 0, expected struct variant Command::Mask with 1 element"},
        FaultCase{R"(["mask",true,false])", "invalid length 2, expected 1 element in sequence"},
        FaultCase{R"(["stop",1])", "invalid length 1, expected 0 elements in sequence"},
        FaultCase{R"(["start","file","p"])",
                  "invalid length 3, expected struct Start with 14 elements"},
        FaultCase{R"(["start","file"])",
                  "invalid length 1, expected struct Start with 14 elements"},
        FaultCase{R"(["Stop"])", "unknown variant `Stop`", true},
        FaultCase{R"([1])", "invalid type: integer `1`, expected variant identifier" + at, true},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":["monitor"]})",
                  "invalid length 0, expected struct variant Source::Monitor with 3 elements"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":["window"]})",
                  "invalid length 0, expected struct variant Source::Window with 1 element"},
        FaultCase{R"({"cmd":"start","mode":"f","path":"p","source":[]})", "missing field `kind`"},
        FaultCase{start_with("").replace(start_with("").find(audio_none), audio_none.size(),
                                         R"("audio":["desktop","x"])"),
                  "invalid length 1, expected 0 elements in sequence"},
        FaultCase{start_with("").replace(start_with("").find(audio_none), audio_none.size(),
                                         R"("audio":["process"])"),
                  "invalid length 0, expected struct variant Audio::Process with 1 element"}));

TEST(ParseCommand, DecodesEveryCommand) {
    EXPECT_TRUE(std::holds_alternative<Command::Stop>(command_of(R"({"cmd":"stop"})").value));
    EXPECT_TRUE(std::holds_alternative<Command::Save>(command_of(R"({"cmd":"save"})").value));
    EXPECT_TRUE(std::holds_alternative<Command::Stats>(command_of(R"({"cmd":"stats"})").value));
    EXPECT_TRUE(std::holds_alternative<Command::Quit>(command_of(R"(  {"cmd":"quit"}	)").value));
    // Unlisted members are ignored, wherever the tag stands.
    EXPECT_TRUE(std::holds_alternative<Command::Stop>(
        command_of(R"({"other":[1,{"a":2}],"cmd":"stop","x":null})").value));
    Command mask = command_of(R"({"hidden":false,"cmd":"mask"})");
    ASSERT_TRUE(std::holds_alternative<Command::Mask>(mask.value));
    EXPECT_FALSE(std::get<Command::Mask>(mask.value).hidden);
    Command array_mask = command_of(R"(["mask",true])");
    ASSERT_TRUE(std::holds_alternative<Command::Mask>(array_mask.value));
    EXPECT_TRUE(std::get<Command::Mask>(array_mask.value).hidden);
}

TEST(ParseCommand, StartDefaultsAndOptionalMembers) {
    Start s = start_of(start_with(""));
    EXPECT_EQ(s.replay_seconds, 120u);
    EXPECT_EQ(s.replay_max_mb, 1024u);
    EXPECT_FALSE(s.replay_dir);
    EXPECT_FALSE(s.encoder);
    EXPECT_EQ(s.fps, 30u);
    EXPECT_TRUE(std::holds_alternative<Audio::None>(s.audio.value));

    Start full = start_of(start_with(
        R"("replayDir":"r","replaySeconds":60,"replayMaxMb":512,"encoder":"auto","ignored":1,"ignored":2)"));
    EXPECT_EQ(full.replay_dir.value_or(""), "r");
    EXPECT_EQ(full.replay_seconds, 60u);
    EXPECT_EQ(full.replay_max_mb, 512u);
    EXPECT_EQ(full.encoder.value_or(""), "auto");

    Start nulls = start_of(start_with(R"("replayDir":null,"encoder":null)"));
    EXPECT_FALSE(nulls.replay_dir);
    EXPECT_FALSE(nulls.encoder);
}

TEST(ParseCommand, U32Limits) {
    std::string line = start_with("");
    std::size_t at = line.find("\"fps\":30");
    EXPECT_EQ(start_of(std::string(line).replace(at, 8, "\"fps\":0")).fps, 0u);
    EXPECT_EQ(start_of(std::string(line).replace(at, 8, "\"fps\":4294967295")).fps, 4294967295u);
}

TEST(ParseCommand, SourcesAndAudio) {
    auto source_of = [](const std::string& source) {
        std::string line = R"({"cmd":"start","mode":"m","path":"p","source":)" + source + "," +
                           sizes + R"(,"audio":{"kind":"none","window":"ignored"}})";
        return start_of(line).source;
    };
    Source monitor = source_of(R"({"kind":"monitor","monitor":"\\\\.\\DISPLAY1"})");
    ASSERT_TRUE(std::holds_alternative<Source::Monitor>(monitor.value));
    EXPECT_EQ(std::get<Source::Monitor>(monitor.value).monitor, "\\\\.\\DISPLAY1");
    EXPECT_FALSE(std::get<Source::Monitor>(monitor.value).method);
    EXPECT_FALSE(std::get<Source::Monitor>(monitor.value).window);

    Source by_index = source_of(R"({"monitor":"m","kind":1,"method":-7,"window":"w"})");
    ASSERT_TRUE(std::holds_alternative<Source::Monitor>(by_index.value));
    EXPECT_EQ(std::get<Source::Monitor>(by_index.value).method.value_or(0), -7);
    EXPECT_EQ(std::get<Source::Monitor>(by_index.value).window.value_or(""), "w");

    Source array = source_of(R"(["monitor","m",2])");
    ASSERT_TRUE(std::holds_alternative<Source::Monitor>(array.value));
    EXPECT_EQ(std::get<Source::Monitor>(array.value).method.value_or(0), 2);

    Source window = source_of(R"([0,"fenêtre"])");
    ASSERT_TRUE(std::holds_alternative<Source::Window>(window.value));
    EXPECT_EQ(std::get<Source::Window>(window.value).window, "fenêtre");

    std::string process = start_with("").replace(start_with("").find(audio_none), audio_none.size(),
                                                 R"("audio":{"window":"jeu","kind":"process"})");
    Start s = start_of(process);
    ASSERT_TRUE(std::holds_alternative<Audio::Process>(s.audio.value));
    EXPECT_EQ(std::get<Audio::Process>(s.audio.value).window, "jeu");
}

TEST(ParseCommand, ArrayFormOfStart) {
    Start s = start_of(
        R"(["start","both","p",null,["window","w"],1920,1080,1280,720,60,8000,["desktop"],30,256,"obs_x264"])");
    EXPECT_EQ(s.mode, "both");
    EXPECT_EQ(s.replay_seconds, 30u);
    EXPECT_EQ(s.encoder.value_or(""), "obs_x264");
    EXPECT_TRUE(std::holds_alternative<Audio::Desktop>(s.audio.value));
    Start trailing = start_of(R"(["start","file","p","r",["window","w"],1,2,3,4,5,6,[2]])");
    EXPECT_EQ(trailing.replay_dir.value_or(""), "r");
    EXPECT_EQ(trailing.replay_max_mb, 1024u);
    EXPECT_EQ(fault_of(R"(["start","file","p","r",["window","w"],1,2,3,4,5,6,[2],1,2,null,0])"),
              "invalid length 15, expected 14 elements in sequence");
}

TEST(ParseCommand, KeepsTextExactly) {
    Start s = start_of(start_with("").replace(start_with("").find("\"path\":\"p\""), 10,
                                              R"("path":"C:\\Vidéos\\a\u0000b \"q\"")"));
    EXPECT_EQ(s.path, std::string("C:\\Vidéos\\a\0b \"q\"", 18));
}

TEST(ParseCommand, DeepNestingIsRefusedNotCrashed) {
    std::string deep =
        R"({"cmd":"stop","x":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_NE(fault_of(deep).find("recursion limit"), std::string::npos);
}

TEST(FormatShortest, WholeValuesKeepAFraction) {
    EXPECT_EQ(format_shortest(30.0), "30.0");
    EXPECT_EQ(format_shortest(0.0), "0.0");
    EXPECT_EQ(format_shortest(29.97), "29.97");
    EXPECT_EQ(format_shortest(0.1), "0.1");
}

} // namespace
