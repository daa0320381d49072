#include "agent_process.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using nlohmann::json;

nlohmann::json error(const std::string& message) {
    return {{"event", "error"}, {"message", message}};
}

std::unique_ptr<AgentProcess> ready_agent(AgentOptions options = {}) {
    auto agent = std::make_unique<AgentProcess>(std::move(options));
    agent->expect_event("ready");
    return agent;
}

// The release calls of the journal from `from` on, in order.
std::vector<std::string> releases_after(const std::vector<std::string>& journal,
                                        const std::string& from) {
    std::vector<std::string> out;
    bool seen = false;
    for (const std::string& line : journal) {
        seen = seen || line.rfind(from, 0) == 0;
        if (!seen)
            continue;
        for (const char* call :
             {"obs_output_stop", "obs_output_release", "obs_output_force_stop",
              "obs_set_output_source", "obs_source_release", "obs_encoder_release"})
            if (line.rfind(call, 0) == 0)
                out.push_back(line);
    }
    return out;
}

void expect_no_misuse(const AgentProcess& agent) {
    for (const std::string& line : agent.journal())
        EXPECT_EQ(line.rfind("misuse", 0), std::string::npos) << line;
    auto live = journal_calls(agent.journal(), "live_allocations");
    if (!live.empty()) {
        EXPECT_EQ(live.back(), "live_allocations 0");
    }
}

TEST(Recording, EachModeStartsAndFinishes) {
    struct Case {
        std::string mode;
        json extra;
        std::vector<std::string> outputs;
        json finished_path;
    };
    const Case cases[] = {
        {"file", json::object(), {"ffmpeg_muxer"}, "/v.mp4"},
        {"replay", json::object(), {"replay_buffer"}, nullptr},
        {"both", {{"replayDir", "/clips"}}, {"ffmpeg_muxer", "replay_buffer"}, "/v.mp4"},
    };
    for (const Case& c : cases) {
        auto agent = ready_agent();
        json extra = c.extra;
        extra["mode"] = c.mode;
        extra["path"] = "/v.mp4";
        agent->send(start_line(extra));
        json started = agent->expect_event("started");
        EXPECT_EQ(started, json({{"event", "started"},
                                 {"mode", c.mode},
                                 {"path", "/v.mp4"},
                                 {"encoder", "obs_x264"},
                                 {"source", "fenêtre WGC"}}));
        agent->send(R"({"cmd":"stop"})");
        json finished = agent->expect_event("finished");
        EXPECT_EQ(finished["mode"], c.mode);
        EXPECT_EQ(finished["path"], c.finished_path) << c.mode;
        EXPECT_EQ(finished["code"], 0);
        EXPECT_EQ(finished["error"], nullptr);
        EXPECT_EQ(finished["encoder"], "obs_x264");
        EXPECT_EQ(finished["stats"]["event"], "stats");
        // A second stop finds nothing; a new start is accepted again.
        agent->send(R"({"cmd":"stop"})");
        EXPECT_EQ(*agent->next_event(), error("aucun enregistrement en cours"));
        agent->send(start_line(extra));
        agent->expect_event("started");
        agent->close_input();
        agent->expect_event("finished");
        EXPECT_EQ(*agent->next_event(), json({{"event", "bye"}}));
        EXPECT_EQ(agent->wait_exit(), 0);

        std::vector<std::string> created = journal_calls(agent->journal(), "obs_output_create");
        ASSERT_EQ(created.size(), 2 * c.outputs.size()) << c.mode;
        for (std::size_t i = 0; i < c.outputs.size(); ++i)
            EXPECT_EQ(created[i].rfind("obs_output_create " + c.outputs[i], 0), 0u) << created[i];
        expect_no_misuse(*agent);
    }
}

TEST(Recording, UnknownModeIsRefusedBeforeAnythingIsCreated) {
    auto agent = ready_agent();
    for (const char* mode : {"FILE", "record", ""}) {
        agent->send(start_line({{"mode", mode}}));
        EXPECT_EQ(*agent->next_event(), error(std::string("mode inconnu : ") + mode +
                                              " (attendu : file, replay ou both)"));
    }
    agent->send(R"({"cmd":"stats"})");
    EXPECT_EQ(*agent->next_event(), error("aucun enregistrement en cours"));
    agent->send(start_line({{"mode", "file"}}));
    agent->expect_event("started");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    // Only the start in mode "file" reached the engine.
    std::vector<std::string> journal = agent->journal();
    EXPECT_EQ(journal_calls(journal, "obs_reset_video").size(), 2u);
    EXPECT_EQ(journal_calls(journal, "obs_source_create").size(), 1u);
    expect_no_misuse(*agent);
}

TEST(Recording, StopReleasesInTheFixedOrder) {
    // Each output ends a while after its "stop", as the engine's own thread ends it:
    // released before then, the engine would wait for ever.
    auto agent = ready_agent({.env = {{"FAKE_OBS_ACTIVE_AFTER_STOP_MS", "300"}}});
    agent->send(start_line({{"mode", "both"}, {"audio", {{"kind", "desktop"}}}}));
    agent->expect_event("started");
    agent->send(R"({"cmd":"quit"})");
    agent->expect_event("finished");
    agent->expect_event("bye");
    EXPECT_EQ(agent->wait_exit(), 0);
    std::vector<std::string> journal = agent->journal();
    EXPECT_EQ(releases_after(journal, "obs_remove_raw_video_callback"),
              (std::vector<std::string>{
                  "obs_output_stop O1", "obs_output_stop O2", "obs_output_release O1",
                  "obs_output_release O2", "obs_set_output_source 0 null",
                  "obs_set_output_source 1 null", "obs_source_release S1", "obs_source_release S2",
                  "obs_encoder_release E1", "obs_encoder_release E2"}));
    // Statistics are taken before the probe is detached, and that before any output stops.
    auto first = [&](const std::string& prefix) {
        return std::find_if(journal.begin(), journal.end(),
                            [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }) -
               journal.begin();
    };
    EXPECT_LT(first("obs_output_get_total_frames"), first("obs_remove_raw_video_callback"));
    EXPECT_LT(first("obs_remove_raw_video_callback"), first("obs_output_stop"));
    EXPECT_EQ(journal_calls(journal, "obs_shutdown").size(), 1u);
    EXPECT_LT(first("obs_encoder_release E2"), first("obs_shutdown"));
    expect_no_misuse(*agent);
}

TEST(Recording, EngineReceivesTheSettingsOfTheStart) {
    auto agent = ready_agent({.env = {{"FAKE_OBS_REFUSE", "source:window_capture/2"}}});
    agent->send(
        start_line({{"mode", "both"},
                    {"path", "/v.mp4"},
                    {"replayDir", nullptr},
                    {"baseWidth", 1},
                    {"baseHeight", 1081},
                    {"width", 1281},
                    {"height", 1},
                    {"fps", 240},
                    {"bitrate", 4500},
                    {"replaySeconds", 30},
                    {"source", {{"kind", "window"}, {"window", std::string("Jeu\0X", 5)}}},
                    {"audio", {{"kind", "process"}, {"window", "Autre:Classe:autre.exe"}}}}));
    EXPECT_EQ(agent->expect_event("started")["source"], "fenêtre BitBlt");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    std::vector<std::string> journal = agent->journal();
    // The audio thread waits in a callback while the video resets: its tick would meet a
    // lock the reset destroys.
    std::vector<std::string> expected = {
        "obs_add_raw_audio_callback 0",
        "audio tick",
        "obs_reset_video " + test_platform::graphics_module +
            " 120/1 base=2x1081 output=1280x2 format=2 adapter=0 gpu=1 cs=2 "
            "range=1 scale=2",
        "audio tick done",
        "obs_remove_raw_audio_callback 0",
        "obs_source_create window_capture \"KALTO image (fenêtre WGC)\" "
        "window=JeuX;method=2;priority=0;cursor=false;client_area=true;capture_audio=false -> null",
        "obs_source_create window_capture \"KALTO image (fenêtre BitBlt)\" "
        "window=JeuX;method=1;priority=0;cursor=false;client_area=true;capture_audio=false -> S1",
        "obs_set_output_source 0 S1",
        "obs_source_create wasapi_process_output_capture \"KALTO son du jeu\" "
        "window=Autre:Classe:autre.exe;priority=2 -> S2",
        "obs_set_output_source 1 S2",
        "obs_video_encoder_create obs_x264 \"KALTO H.264\" "
        "rate_control=CBR;bitrate=4500;keyint_sec=1;preset=veryfast -> E1",
        "obs_encoder_set_video E1 engine-video",
        "obs_audio_encoder_create ffmpeg_aac \"KALTO AAC\" bitrate=160 mixer=0 -> E2",
        "obs_encoder_set_audio E2 engine-audio",
        "obs_output_create ffmpeg_muxer \"KALTO fichier\" path=/v.mp4 -> O1",
        "obs_output_set_video_encoder O1 E1",
        "obs_output_set_audio_encoder O1 E2 0",
        "signal_handler_connect O1 stop",
        "obs_output_start O1 -> true",
        "obs_output_create replay_buffer \"KALTO replay\" "
        "directory=/;format=KALTO_replay_%CCYY-%MM-%DD_"
        "%hh-%mm-%ss;extension=mp4;allow_spaces=false;max_time_sec=30;max_size_mb=1024 -> O2",
        "obs_output_set_video_encoder O2 E1",
        "obs_output_set_audio_encoder O2 E2 0",
        "signal_handler_connect O2 stop",
        "signal_handler_connect O2 saved",
        "obs_output_start O2 -> true",
        "obs_add_raw_video_callback2 null divisor=60 null"};
    // The start's reset, after the audio thread's hold began.
    auto reset = std::find(journal.begin(), journal.end(), expected[2]);
    ASSERT_NE(reset, journal.end());
    ASSERT_GE(reset - journal.begin(), 2);
    auto begin = reset - 2;
    std::vector<std::string> actual;
    for (auto it = begin; it != journal.end() && actual.size() < expected.size(); ++it)
        if (it->rfind("obs_data_release", 0) != 0)
            actual.push_back(*it);
    EXPECT_EQ(actual, expected);
    // Every settings object is released, refused source included.
    EXPECT_EQ(journal_calls(journal, "obs_data_release").size(), 7u);
    expect_no_misuse(*agent);
}

TEST(Recording, CaptureCandidateOrder) {
    struct Case {
        json source;
        std::vector<std::string> tried; // id/method of each source the engine is asked for
    };
    const Case cases[] = {
        {{{"kind", "window"}, {"window", "w"}}, {"window_capture/2", "window_capture/1"}},
        {{{"kind", "monitor"}, {"monitor", "m"}}, {"monitor_capture/1", "monitor_capture/2"}},
        {{{"kind", "monitor"}, {"monitor", "m"}, {"method", 2}},
         {"monitor_capture/2", "monitor_capture/1"}},
        {{{"kind", "monitor"}, {"monitor", "m"}, {"method", 7}},
         {"monitor_capture/1", "monitor_capture/2"}},
        {{{"kind", "monitor"}, {"monitor", "m"}, {"window", "w"}},
         {"monitor_capture/1", "monitor_capture/2", "window_capture/2"}},
    };
    for (const Case& c : cases) {
        auto agent = ready_agent(
            {.env = {{"FAKE_OBS_REFUSE", "source:window_capture,source:monitor_capture"}}});
        agent->send(start_line({{"source", c.source}}));
        EXPECT_EQ(*agent->next_event(), error("aucune source d'image disponible"));
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
        std::vector<std::string> tried;
        for (const std::string& line : journal_calls(agent->journal(), "obs_source_create")) {
            std::string id = line.substr(18, line.find(' ', 18) - 18);
            std::size_t method = line.find("method=");
            tried.push_back(id + "/" + line.substr(method + 7, 1));
        }
        EXPECT_EQ(tried, c.tried) << c.source;
        // Nothing else was created, and nothing needs releasing.
        EXPECT_TRUE(journal_calls(agent->journal(), "obs_video_encoder_create").empty());
        EXPECT_TRUE(journal_calls(agent->journal(), "obs_set_output_source").empty());
    }
}

TEST(Recording, MonitorSettingsAndLabels) {
    auto agent = ready_agent({.env = {{"FAKE_OBS_REFUSE", "source:monitor_capture/2"}}});
    agent->send(start_line(
        {{"source", {{"kind", "monitor"}, {"monitor", "\\\\.\\DISPLAY2"}, {"method", 2}}}}));
    EXPECT_EQ(agent->expect_event("started")["source"], "écran DXGI");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    auto created = journal_calls(agent->journal(), "obs_source_create");
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[0], "obs_source_create monitor_capture \"KALTO image (écran WGC)\" "
                          "monitor_id=\\\\.\\DISPLAY2;method=2;capture_cursor=false -> null");
    EXPECT_EQ(created[1], "obs_source_create monitor_capture \"KALTO image (écran DXGI)\" "
                          "monitor_id=\\\\.\\DISPLAY2;method=1;capture_cursor=false -> S1");
}

TEST(Recording, VideoRateLimitsAndProbeDivisor) {
    struct Case {
        int fps;
        std::string rate;
        std::string divisor;
    };
    for (const Case& c : {Case{0, "10/1", "divisor=5"}, Case{10, "10/1", "divisor=5"},
                          Case{11, "11/1", "divisor=5"}, Case{25, "25/1", "divisor=12"},
                          Case{119, "119/1", "divisor=59"}, Case{240, "120/1", "divisor=60"}}) {
        auto agent = ready_agent();
        agent->send(start_line({{"fps", c.fps}}));
        agent->expect_event("started");
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
        auto resets = journal_calls(agent->journal(), "obs_reset_video");
        ASSERT_EQ(resets.size(), 2u);
        EXPECT_NE(resets[1].find(" " + c.rate + " "), std::string::npos) << resets[1];
        auto added = journal_calls(agent->journal(), "obs_add_raw_video_callback2");
        ASSERT_EQ(added.size(), 1u);
        EXPECT_NE(added[0].find(c.divisor), std::string::npos) << c.fps << " " << added[0];
    }
}

TEST(Recording, EncoderChoice) {
    struct Case {
        std::string offered;
        json requested;
        std::string refused;
        std::vector<std::string> tried;
        std::string created; // empty: the start fails
    };
    const Case cases[] = {
        {"obs_x264,jim_nvenc,ffmpeg_aac", nullptr, "", {"jim_nvenc"}, "jim_nvenc"},
        {"obs_x264,jim_nvenc", "auto", "encoder:jim_nvenc", {"jim_nvenc", "obs_x264"}, "obs_x264"},
        {"obs_qsv11,obs_nvenc_h264_tex,h264_texture_amf,obs_qsv11_v2",
         nullptr,
         "",
         {"obs_nvenc_h264_tex"},
         "obs_nvenc_h264_tex"},
        {"ffmpeg_aac", "obs_x264", "", {"obs_x264"}, "obs_x264"},
        {"obs_x264", "obs_x264", "encoder:obs_x264", {"obs_x264"}, ""},
        {"obs_x264", "Auto", "", {"Auto"}, "Auto"},
        {"ffmpeg_aac,ffmpeg_opus", nullptr, "", {}, ""},
    };
    for (const Case& c : cases) {
        auto agent = ready_agent(
            {.env = {{"FAKE_OBS_ENCODERS", c.offered}, {"FAKE_OBS_REFUSE", c.refused}}});
        agent->send(start_line({{"encoder", c.requested}, {"audio", {{"kind", "desktop"}}}}));
        json event = *agent->next_event();
        if (c.created.empty())
            EXPECT_EQ(event, error("aucun encodeur H.264 disponible"));
        else
            EXPECT_EQ(event["encoder"], c.created) << event;
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
        std::vector<std::string> journal = agent->journal();
        std::vector<std::string> tried;
        for (const std::string& line : journal_calls(journal, "obs_video_encoder_create")) {
            std::string id = line.substr(25, line.find(' ', 25) - 25);
            tried.push_back(id);
            bool x264 = id == "obs_x264";
            EXPECT_EQ(line.find(";preset=veryfast") != std::string::npos, x264) << line;
        }
        EXPECT_EQ(tried, c.tried) << c.offered;
        if (c.created.empty()) {
            // Unwinding A: both channels emptied, then the sources, nothing else.
            EXPECT_EQ(releases_after(journal, "obs_set_output_source 1 S2"),
                      (std::vector<std::string>{"obs_set_output_source 1 S2",
                                                "obs_set_output_source 0 null",
                                                "obs_set_output_source 1 null",
                                                "obs_source_release S1", "obs_source_release S2"}));
        }
        expect_no_misuse(*agent);
    }
}

// An encoder the engine lists but that cannot set itself up (QSV without its
// driver) refuses every output's start: the agent's own choice gives way to
// the next, with a non-fatal error each; a named encoder is tried alone.
TEST(Recording, UnusableEncoderGivesWayToTheNext) {
    struct Case {
        json requested;
        std::string unusable, start_fails;
        std::vector<json> events; // before "started", or all of them when the start fails
        std::string created;
        std::vector<std::string> released_before_start; // H.264 encoders given up
    };
    const Case cases[] = {
        {nullptr,
         "obs_qsv11_v2=pas de pilote,obs_qsv11=-",
         "",
         {error("encodeur obs_qsv11_v2 inutilisable : pas de pilote"),
          error("encodeur obs_qsv11 inutilisable : ")},
         "obs_x264",
         {"obs_encoder_release E1", "obs_encoder_release E3"}},
        {"obs_qsv11_v2",
         "obs_qsv11_v2=pas de pilote",
         "",
         {error("démarrage refusé : pas de pilote")},
         "",
         {}},
        {"auto",
         "obs_qsv11_v2=-,obs_qsv11=-,obs_x264=x264",
         "",
         {error("encodeur obs_qsv11_v2 inutilisable : "),
          error("encodeur obs_qsv11 inutilisable : "), error("démarrage refusé : x264")},
         "",
         {}},
        // Refused for another reason: the encoder had set itself up, nothing to fall back from.
        {nullptr,
         "",
         "ffmpeg_muxer=disque plein",
         {error("démarrage refusé : disque plein")},
         "",
         {}},
    };
    for (const Case& c : cases) {
        auto agent = ready_agent({.env = {{"FAKE_OBS_ENCODERS", "obs_qsv11_v2,obs_qsv11,obs_x264"},
                                          {"FAKE_OBS_ENCODER_UNUSABLE", c.unusable},
                                          {"FAKE_OBS_OUTPUT_START_FAIL", c.start_fails}}});
        agent->send(start_line({{"encoder", c.requested}, {"mode", "both"}}));
        for (const json& expected : c.events)
            EXPECT_EQ(*agent->next_event(), expected) << c.unusable;
        if (!c.created.empty()) {
            json started = *agent->next_event();
            EXPECT_EQ(started["event"], "started");
            EXPECT_EQ(started["encoder"], c.created);
            agent->send(R"({"cmd":"stop"})");
            EXPECT_EQ(agent->expect_event("finished")["encoder"], c.created);
        } else {
            agent->send(R"({"cmd":"stats"})");
            EXPECT_EQ(*agent->next_event(), error("aucun enregistrement en cours"));
        }
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
        std::vector<std::string> journal = agent->journal();
        // Each encoder given up is released before the outputs start with the next.
        std::vector<std::string> last_start = journal_calls(journal, "obs_output_start");
        ASSERT_FALSE(last_start.empty());
        std::vector<std::string> before;
        for (const std::string& line : journal) {
            if (line == last_start.back())
                break;
            if (line.rfind("obs_encoder_release", 0) == 0)
                before.push_back(line);
        }
        if (!c.created.empty()) {
            EXPECT_EQ(before, c.released_before_start);
        }
        expect_no_misuse(*agent);
    }
}

TEST(Recording, SoundLossesAreNotFatal) {
    struct Case {
        json audio;
        std::string refused;
        std::vector<json> errors;
        bool audio_encoder_given;
    };
    const Case cases[] = {
        {{{"kind", "process"}, {"window", "w"}},
         "source:wasapi_process_output_capture",
         {error("son du jeu seul indisponible : la vidéo sera muette")},
         true},
        {{{"kind", "desktop"}}, "source:wasapi_output_capture", {}, true},
        {{{"kind", "none"}},
         "encoder:ffmpeg_aac",
         {error("encodeur AAC indisponible : la vidéo sera muette")},
         false},
        {{{"kind", "process"}, {"window", "w"}},
         "source:wasapi_process_output_capture,encoder:ffmpeg_aac",
         {error("son du jeu seul indisponible : la vidéo sera muette"),
          error("encodeur AAC indisponible : la vidéo sera muette")},
         false},
    };
    for (const Case& c : cases) {
        auto agent = ready_agent({.env = {{"FAKE_OBS_REFUSE", c.refused}}});
        agent->send(start_line({{"mode", "both"}, {"audio", c.audio}}));
        for (const json& expected : c.errors)
            EXPECT_EQ(*agent->next_event(), expected);
        EXPECT_EQ(agent->next_event()->value("event", ""), "started");
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
        std::vector<std::string> journal = agent->journal();
        // No fallback to the desktop sound, and channel 1 never set without a sound source.
        EXPECT_TRUE(journal_calls(journal, "obs_source_create wasapi_output_capture").empty() ||
                    c.audio["kind"] == "desktop");
        EXPECT_TRUE(journal_calls(journal, "obs_set_output_source 1 S").empty());
        EXPECT_EQ(journal_calls(journal, "obs_output_set_audio_encoder").size(),
                  c.audio_encoder_given ? 2u : 0u);
        expect_no_misuse(*agent);
    }
}

TEST(Recording, FailedStartsReleaseEverythingInOrder) {
    struct Case {
        std::map<std::string, std::string> env;
        json extra;
        json message;
        std::string from;                  // first journal line of the unwinding
        std::vector<std::string> releases; // from there on
    };
    const std::vector<std::string> tail = {"obs_set_output_source 0 null",
                                           "obs_set_output_source 1 null", "obs_source_release S1",
                                           "obs_encoder_release E1", "obs_encoder_release E2"};
    auto with_tail = [&](std::vector<std::string> head) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const Case cases[] = {
        {{{"FAKE_OBS_RESET_VIDEO", "0,-3"}},
         json::object(),
         error("vidéo : réinitialisation refusée (code -3)"),
         "",
         {}},
        {{{"FAKE_OBS_REFUSE", "output:ffmpeg_muxer"}},
         {{"mode", "both"}},
         error("sortie ffmpeg_muxer indisponible"),
         "obs_output_create ffmpeg_muxer",
         tail},
        {{{"FAKE_OBS_REFUSE", "output:replay_buffer"}},
         {{"mode", "both"}},
         error("sortie replay_buffer indisponible"),
         "obs_output_create replay_buffer",
         with_tail({"obs_output_stop O1", "obs_output_release O1"})},
        {{{"FAKE_OBS_OUTPUT_START_FAIL", "replay_buffer=disque plein"}},
         {{"mode", "both"}},
         error("démarrage refusé : disque plein"),
         "obs_output_start O2",
         with_tail({"obs_output_release O2", "obs_output_stop O1", "obs_output_release O1"})},
        {{{"FAKE_OBS_OUTPUT_START_FAIL", "ffmpeg_muxer=-"}},
         {{"mode", "file"}},
         error("démarrage refusé : "),
         "obs_output_start O1",
         with_tail({"obs_output_release O1"})},
    };
    for (const Case& c : cases) {
        auto agent = ready_agent({.env = c.env});
        agent->send(start_line(c.extra));
        EXPECT_EQ(*agent->next_event(), c.message);
        // Nothing is left running: commands see no recording, and a new start works.
        agent->send(R"({"cmd":"stats"})");
        EXPECT_EQ(*agent->next_event(), error("aucun enregistrement en cours"));
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
        std::vector<std::string> journal = agent->journal();
        if (!c.from.empty()) {
            EXPECT_EQ(releases_after(journal, c.from), c.releases) << c.message;
        }
        EXPECT_TRUE(journal_calls(journal, "obs_add_raw_video_callback2").empty());
        EXPECT_TRUE(journal_calls(journal, "obs_remove_raw_video_callback").empty());
        expect_no_misuse(*agent);
    }
    // After a failed start the next one succeeds.
    auto agent = ready_agent({.env = {{"FAKE_OBS_RESET_VIDEO", "0,-3"}}});
    agent->send(start_line());
    EXPECT_EQ(*agent->next_event(), error("vidéo : réinitialisation refusée (code -3)"));
    agent->send(start_line());
    agent->expect_event("started");
    agent->send(start_line());
    EXPECT_EQ(*agent->next_event(), error("un enregistrement est déjà en cours"));
    agent->send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent->expect_event("finished")["code"], 0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
}

TEST(Recording, ReplaySaves) {
    auto agent = ready_agent();
    agent->send(start_line({{"mode", "replay"}, {"path", "/clips"}}));
    agent->expect_event("started");
    agent->send(R"({"cmd":"save"})");
    EXPECT_EQ(*agent->next_event(),
              json({{"event", "saved"}, {"path", "/clips/KALTO_replay_1.mp4"}}));
    agent->send(R"({"cmd":"save"})");
    EXPECT_EQ(*agent->next_event(),
              json({{"event", "saved"}, {"path", "/clips/KALTO_replay_2.mp4"}}));
    agent->send(R"({"cmd":"quit"})");
    EXPECT_EQ(agent->expect_event("finished")["path"], nullptr);
    EXPECT_EQ(agent->wait_exit(), 0);
    EXPECT_EQ(journal_calls(agent->journal(), "proc_handler_call O1 save -> true").size(), 2u);
    expect_no_misuse(*agent); // the call data buffers were all freed

    auto file_only = ready_agent();
    file_only->send(start_line({{"mode", "file"}}));
    file_only->expect_event("started");
    file_only->send(R"({"cmd":"save"})");
    EXPECT_EQ(*file_only->next_event(), error("aucun tampon de replay en cours"));
    file_only->close_input();
    EXPECT_EQ(file_only->wait_exit(), 0);
}

TEST(Recording, ReplaySaveFailures) {
    auto refused = ready_agent({.env = {{"FAKE_OBS_SAVE", "fail"}}});
    refused->send(start_line({{"mode", "both"}, {"replayDir", "/clips"}}));
    refused->expect_event("started");
    refused->send(R"({"cmd":"save"})");
    EXPECT_EQ(*refused->next_event(), error("sauvegarde du replay refusée"));
    refused->send(R"({"cmd":"stop"})");
    EXPECT_EQ(refused->next_event()->value("event", ""), "finished");
    refused->close_input();
    EXPECT_EQ(refused->wait_exit(), 0);
    expect_no_misuse(*refused);

    auto no_path = ready_agent({.env = {{"FAKE_OBS_SAVE", "nopath"}}});
    no_path->send(start_line({{"mode", "replay"}, {"path", "/clips"}}));
    no_path->expect_event("started");
    no_path->send(R"({"cmd":"save"})");
    EXPECT_EQ(*no_path->next_event(), json({{"event", "saved"}, {"path", ""}}));
    no_path->close_input();
    EXPECT_EQ(no_path->wait_exit(), 0);
}

TEST(Recording, StatisticsMembersAndTypes) {
    auto agent = ready_agent({.env = {{"FAKE_OBS_STATS", "fps=30,lagged=3,dropped=2"}}});
    agent->send(start_line({{"mode", "replay"}, {"path", "/clips"}}));
    agent->expect_event("started");
    agent->send(R"({"cmd":"stats"})");
    std::string line;
    json stats = *agent->next_event();
    EXPECT_EQ(stats["event"], "stats");
    EXPECT_EQ(stats.size(), 11u);
    for (const char* name : {"brightness", "darkSeconds", "fps", "seconds"})
        EXPECT_TRUE(stats[name].is_number_float()) << name << " " << stats;
    for (const char* name : {"dropped", "encoded", "examined", "lagged", "rendered"})
        EXPECT_TRUE(stats[name].is_number_integer()) << name << " " << stats;
    EXPECT_EQ(stats["fps"], 30.0);
    EXPECT_EQ(stats["lagged"], 3);
    EXPECT_EQ(stats["dropped"], 2);
    EXPECT_EQ(stats["source"], "fenêtre WGC");
    EXPECT_GE(stats["seconds"].get<double>(), 0.0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    // The printed line keeps ".0" on whole floats and begins with "brightness".
    std::vector<std::string> lines = agent->stdout_lines();
    auto stats_line = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("\"event\":\"stats\"") != std::string::npos;
    });
    ASSERT_NE(stats_line, lines.end());
    EXPECT_EQ(stats_line->rfind("{\"brightness\":", 0), 0u) << *stats_line;
    EXPECT_NE(stats_line->find("\"fps\":30.0"), std::string::npos) << *stats_line;
    // The replay buffer is the primary output when there is no file.
    EXPECT_EQ(journal_calls(agent->journal(), "obs_output_get_total_frames")[0],
              "obs_output_get_total_frames O1");
}

TEST(Recording, OutputThatStoppedByItselfIsReportedAtOnce) {
    auto agent =
        ready_agent({.env = {{"FAKE_OBS_OUTPUT_STOP", "ffmpeg_muxer=early:-4:disque plein"}}});
    agent->send(start_line({{"mode", "both"}}));
    agent->expect_event("started");
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished", 5s);
    EXPECT_EQ(finished["code"], -4);
    EXPECT_EQ(finished["error"], "disque plein");
    EXPECT_EQ(finished["path"], "/tmp/kalto-e2e/video.mp4");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    EXPECT_TRUE(journal_calls(agent->journal(), "obs_output_force_stop").empty());
}

TEST(Recording, StopCodeAndEmptyErrorText) {
    auto agent = ready_agent({.env = {{"FAKE_OBS_OUTPUT_STOP", "ffmpeg_muxer=code:-2:"}}});
    agent->send(start_line());
    agent->expect_event("started");
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished");
    EXPECT_EQ(finished["code"], -2);
    EXPECT_EQ(finished["error"], "");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
}

} // namespace
