// The layout program, run on a tree shaped like a stock OBS Studio
// installation, and the agent started from the tree it makes.
#include "agent_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> seven = {"win-capture", "win-wasapi", "obs-ffmpeg", "obs-x264",
                                        "obs-nvenc",   "obs-qsv11",  "obs-outputs"};

void write_file(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fake engine as obs.dll, its version resource saying another version.
void write_engine(const fs::path& to, const std::string& fake, uint16_t major, uint16_t minor,
                  uint16_t patch) {
    std::string bytes = read_file(fs::path(KALTO_FAKES_DIR) / fake / (fake + ".dll"));
    // VS_FIXEDFILEINFO: its signature, its own version, then the file's.
    size_t at = bytes.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(at, std::string::npos);
    for (auto [offset, value] : {std::pair{8, major << 16 | minor}, {12, patch << 16}})
        for (int i = 0; i < 4; ++i)
            bytes[at + offset + i] = static_cast<char>(value >> (8 * i));
    write_file(to, bytes);
}

// A stock installation: the fake engine as obs.dll, the muxer and libraries beside
// it, shaders, the modules' libraries and data, and plug-ins the agent does not use.
fs::path stock_installation(const fs::path& base, const std::vector<std::string>& modules) {
    fs::path obs = base / "OBS Studio";
    fs::path bin = obs / "bin" / "64bit";
    fs::create_directories(bin);
    fs::copy_file(fs::path(KALTO_FAKES_DIR) / "fake_obs" / "fake_obs.dll", bin / "obs.dll");
    for (const char* name :
         {"obs64.exe", "obs-ffmpeg-mux.exe", "avcodec-61.dll", "w32-pthreads.dll"})
        write_file(bin / name, name);
    write_file(obs / "data" / "libobs" / "default.effect");
    write_file(obs / "data" / "libobs" / "libobs.ini");
    for (const std::string& name : modules) {
        write_file(obs / "obs-plugins" / "64bit" / (name + ".dll"), name);
        write_file(obs / "data" / "obs-plugins" / name / "locale" / "fr-FR.ini");
    }
    write_file(obs / "data" / "obs-plugins" / "win-capture" / "get-graphics-offsets64.exe");
    write_file(obs / "obs-plugins" / "64bit" / "obs-browser.dll");
    write_file(obs / "data" / "obs-plugins" / "obs-browser" / "locale" / "fr-FR.ini");
    return obs;
}

struct LayoutRun {
    int code = -1;
    std::string output;
};

LayoutRun run_layout(const std::string& arguments) {
    std::string command = "\"\"" + std::string(KALTO_LAYOUT_PATH) + "\" " + arguments + " 2>&1\"";
    LayoutRun run;
    if (FILE* pipe = _popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            run.output += buffer;
        run.code = _pclose(pipe);
    }
    return run;
}

std::string quoted(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

bool says(const LayoutRun& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
}

std::vector<std::string> listing(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files.push_back(fs::relative(entry.path(), root).string() + " " +
                        std::to_string(entry.is_regular_file() ? entry.file_size() : 0));
    return files;
}

fs::path fresh_folder(const std::string& name) {
    fs::path base = fs::temp_directory_path() / "kalto-layout" / name;
    fs::remove_all(base);
    fs::create_directories(base);
    return base;
}

TEST(Layout, StockInstallationGivesATreeTheAgentRecordsFrom) {
    fs::path base = fresh_folder("stock");
    fs::path obs = stock_installation(base, seven);
    auto before = listing(obs);
    fs::path target = base / "R";
    LayoutRun run = run_layout(quoted(target) + " " + quoted(obs));
    ASSERT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find("libobs 32.2.2"), std::string::npos) << run.output;
    EXPECT_EQ(listing(obs), before) << "the installation was written to";
    for (const char* file :
         {"bin/64bit/obs-ffmpeg-mux.exe", "bin/64bit/avcodec-61.dll", "data/libobs/default.effect",
          "core/obs-x264/obs-x264.dll", "core/win-capture/data/get-graphics-offsets64.exe",
          "core/obs-outputs/data/locale/fr-FR.ini"})
        EXPECT_TRUE(fs::is_regular_file(target / file)) << file;
    EXPECT_FALSE(fs::exists(target / "core" / "obs-browser"));

    AgentProcess agent(AgentOptions{.installed_root = target.string()});
    EXPECT_EQ(agent.expect_event("ready")["modules"], nlohmann::json(seven));
    agent.send(start_line({{"path", (target / "video.mp4").string()}}));
    agent.expect_event("started");
    agent.send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent.expect_event("finished")["code"], 0);
}

TEST(Layout, MissingModulesAndASecondRunAfterOneIsRemoved) {
    fs::path base = fresh_folder("update");
    std::vector<std::string> without_qsv = seven;
    std::erase(without_qsv, "obs-qsv11");
    fs::path obs = stock_installation(base, without_qsv);
    fs::path target = base / "R";
    LayoutRun first = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(first.code, 0) << first.output;
    EXPECT_NE(first.output.find("obs-qsv11 (facultatif)"), std::string::npos) << first.output;

    // An update took the outputs plug-in away: the tree follows, and is no longer
    // complete. A file of the user's, never placed by the program, stays.
    write_file(target / "bin" / "64bit" / "mine.txt");
    fs::remove(obs / "obs-plugins" / "64bit" / "obs-outputs.dll");
    fs::remove_all(obs / "data" / "obs-plugins" / "obs-outputs");
    fs::remove(obs / "bin" / "64bit" / "avcodec-61.dll");
    LayoutRun second = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(second.code, 5) << second.output;
    EXPECT_NE(second.output.find("obs-outputs (nécessaire)"), std::string::npos) << second.output;
    EXPECT_FALSE(fs::exists(target / "core" / "obs-outputs"));
    EXPECT_FALSE(fs::exists(target / "bin" / "64bit" / "avcodec-61.dll"));
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "kalto-obs.exe"));
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "mine.txt"));
}

TEST(Layout, TheEngineIsJudgedByWhatItExports) {
    fs::path base = fresh_folder("engine");
    fs::path obs = stock_installation(base, seven);
    fs::path engine = obs / "bin" / "64bit" / "obs.dll";
    fs::path target = base / "R";
    // Built from a checkout without tags, libobs 31 says 27.2.0.
    write_engine(engine, "fake_obs", 27, 2, 0);
    LayoutRun untagged = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(untagged.code, 0) << untagged.output;
    EXPECT_TRUE(says(untagged, "libobs 27.2.0")) << untagged.output;
    EXPECT_TRUE(says(untagged, "avertissement : obs.dll se dit libobs 27.2.0, mais exporte "
                               "obs_add_raw_video_callback2"))
        << untagged.output;

    fs::remove_all(target);
    write_engine(engine, "fake_obs_v29", 29, 1, 3);
    LayoutRun old = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(old.code, 3) << old.output;
    EXPECT_TRUE(says(old, "moteur 29.1.3 trop ancien")) << old.output;
    write_engine(engine, "fake_obs_v29", 31, 1, 1);
    LayoutRun incomplete = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(incomplete.code, 3) << incomplete.output;
    EXPECT_TRUE(says(incomplete, "n'exporte pas obs_add_raw_video_callback2")) << incomplete.output;
    write_file(engine, "not a library");
    EXPECT_EQ(run_layout(quoted(target) + " " + quoted(obs)).code, 3);
    EXPECT_FALSE(fs::exists(target));
}

TEST(Layout, UnwritableTargetAndTheInstallerRecord) {
    fs::path base = fresh_folder("registry");
    fs::path obs = stock_installation(base, seven);
    write_file(base / "a-file");
    EXPECT_EQ(run_layout(quoted(base / "a-file" / "R") + " " + quoted(obs)).code, 4);
    // Refused: a folder in use, and a target inside the installation.
    write_file(base / "used" / "notes.txt");
    EXPECT_EQ(run_layout(quoted(base / "used") + " " + quoted(obs)).code, 1);
    EXPECT_EQ(run_layout(quoted(obs / "R") + " " + quoted(obs)).code, 1);
    EXPECT_FALSE(fs::exists(obs / "R"));

    // Without a second argument, the folder the installer recorded.
    std::string key = "\"HKLM\\SOFTWARE\\OBS Studio\"";
    ASSERT_EQ(std::system(("reg add " + key + " /ve /d " + quoted(obs) + " /f >NUL 2>&1").c_str()),
              0);
    LayoutRun run = run_layout(quoted(base / "R"));
    std::system(("reg delete " + key + " /f >NUL 2>&1").c_str());
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_TRUE(fs::is_regular_file(base / "R" / "core" / "win-capture" / "win-capture.dll"));
}

} // namespace
