// The layout program, run on a tree shaped like a stock OBS Studio
// installation, and the agent started from the tree it makes.
#include "agent_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <windows.h>

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

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Under Wine, the Unix name of a Windows path. Wine's own calls can neither
// make a link to a folder nor remove one (they act on what it points to).
using UnixName = char* (*)(const wchar_t*);
UnixName wine_unix_name() {
    return reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

// Wine starts a Unix program but gives no handle to wait on: its effect is
// awaited instead, with a deadline.
bool run_unix(std::string command, const std::vector<fs::path>& paths,
              const std::function<bool()>& done) {
    for (const fs::path& path : paths) {
        char* name = wine_unix_name()(path.c_str());
        command += std::string(" \"") + (name ? name : "") + "\"";
        HeapFree(GetProcessHeap(), 0, name);
    }
    STARTUPINFOA startup{.cb = sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        Sleep(10);
    return done();
}

// A link to a folder, which the program must see as a reparse point: a
// junction on Windows, a Unix symbolic link under Wine (which shows it as one).
bool make_folder_link(const fs::path& link, const fs::path& target) {
    auto made = [&] { return fs::exists(link); };
    if (wine_unix_name())
        return run_unix("Z:\\bin\\ln -s", {target, link}, made);
    std::system(("mklink /j " + quoted(link) + " " + quoted(target) + " >NUL 2>&1").c_str());
    return made();
}

fs::path fresh_folder(const std::string& name) {
    fs::path base = fs::temp_directory_path() / "kalto-layout" / name;
    // A link to a folder that a failed run left is removed, never followed.
    if (wine_unix_name() && fs::exists(base))
        run_unix("Z:\\bin\\rm -rf", {base}, [&] { return !fs::exists(base); });
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
    EXPECT_TRUE(says(run, "libobs 32.2.2")) << run.output;
    EXPECT_FALSE(says(run, "avertissement")) << run.output;
    EXPECT_EQ(listing(obs), before) << "the installation was written to";
    for (const char* file :
         {"bin/64bit/obs-ffmpeg-mux.exe", "bin/64bit/avcodec-61.dll", "data/libobs/default.effect",
          "core/obs-x264/obs-x264.dll", "core/win-capture/data/get-graphics-offsets64.exe",
          "core/obs-outputs/data/locale/fr-FR.ini"})
        EXPECT_TRUE(fs::is_regular_file(target / file)) << file;
    EXPECT_FALSE(fs::exists(target / "core" / "obs-browser"));
    // Copies, not the installation's own files, which its updater rewrites in place.
    EXPECT_FALSE(
        fs::equivalent(target / "bin" / "64bit" / "obs.dll", obs / "bin" / "64bit" / "obs.dll"));
    EXPECT_EQ(names_in(base), (std::vector<std::string>{"OBS Studio", "R"}));

    AgentProcess agent(AgentOptions{.installed_root = target.string()});
    EXPECT_EQ(agent.expect_event("ready")["modules"], nlohmann::json(seven));
    agent.send(start_line({{"path", (target / "video.mp4").string()}}));
    agent.expect_event("started");
    agent.send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent.expect_event("finished")["code"], 0);
}

TEST(Layout, AnUpdateIsSwappedInWholeAndNamesCompareWithoutCase) {
    fs::path base = fresh_folder("update");
    std::vector<std::string> without_qsv = seven;
    std::erase(without_qsv, "obs-qsv11");
    fs::path obs = stock_installation(base, without_qsv);
    fs::path target = base / "R";
    LayoutRun first = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(first.code, 0) << first.output;
    EXPECT_TRUE(says(first, "obs-qsv11 (facultatif)")) << first.output;

    // An update takes the outputs plug-in away and renames a library in case only,
    // with new content. R's list spells a file otherwise than R, and R holds a
    // file of the user's, never placed by the program.
    fs::path bin = obs / "bin" / "64bit";
    fs::remove(obs / "obs-plugins" / "64bit" / "obs-outputs.dll");
    fs::remove_all(obs / "data" / "obs-plugins" / "obs-outputs");
    fs::remove(bin / "avcodec-61.dll");
    write_file(bin / "AVCODEC-61.dll", "avcodec 61, updated");
    fs::path list = target / "kalto-obs-layout.list";
    std::string entries = read_file(list);
    size_t muxer = entries.find("bin/64bit/obs-ffmpeg-mux.exe");
    ASSERT_NE(muxer, std::string::npos);
    write_file(list, entries.replace(muxer, 28, "BIN/64bit/OBS-FFMPEG-MUX.EXE"));
    write_file(target / "bin" / "64bit" / "mine.txt");

    // A program holding R open: R cannot be renamed, so it stays as it was.
    auto before = listing(target);
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LayoutRun refused = run_layout(quoted(target) + " " + quoted(obs));
    CloseHandle(held);
    EXPECT_EQ(refused.code, 6) << refused.output;
    EXPECT_TRUE(says(refused, "l'arbre est resté tel quel")) << refused.output;
    EXPECT_EQ(listing(target), before);
    EXPECT_EQ(names_in(base), (std::vector<std::string>{"OBS Studio", "R"}));

    // What a run stopped while building left beside R goes.
    write_file(base / "R.kalto-new" / "kalto-obs-layout.list");
    write_file(base / "R.kalto-new" / "bin" / "64bit" / "obs.dll");
    LayoutRun second = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(second.code, 5) << second.output;
    EXPECT_TRUE(says(second, "obs-outputs (nécessaire)")) << second.output;
    // Only the changed library is copied again; the rest comes from the old tree.
    EXPECT_TRUE(says(second, "fichiers : 1 copiés, 0 liés, ")) << second.output;
    EXPECT_EQ(read_file(target / "bin" / "64bit" / "avcodec-61.dll"), "avcodec 61, updated");
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "obs-ffmpeg-mux.exe"));
    EXPECT_FALSE(fs::exists(target / "core" / "obs-outputs"));
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "kalto-obs.exe"));
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "mine.txt"));
    EXPECT_EQ(names_in(base), (std::vector<std::string>{"OBS Studio", "R"}));

    // Nothing new: R is left alone, even held open.
    held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    LayoutRun third = run_layout(quoted(target) + " " + quoted(obs));
    CloseHandle(held);
    EXPECT_EQ(third.code, 5) << third.output;
    EXPECT_TRUE(says(third, "déjà à jour")) << third.output;

    // Another run at work on R.
    HANDLE lock = CreateFileW((base / "R.kalto-lock").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    LayoutRun concurrent = run_layout(quoted(target) + " " + quoted(obs));
    CloseHandle(lock);
    EXPECT_EQ(concurrent.code, 6) << concurrent.output;
    EXPECT_TRUE(says(concurrent, "une autre exécution")) << concurrent.output;

    // A run stopped between its two renames: R comes back first.
    fs::rename(target, base / "R.kalto-old");
    LayoutRun restored = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(restored.code, 5) << restored.output;
    EXPECT_TRUE(says(restored, "arbre précédent remis en place")) << restored.output;
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "mine.txt"));
    EXPECT_EQ(names_in(base), (std::vector<std::string>{"OBS Studio", "R"}));
}

TEST(Layout, NothingOutsideTheTreeNorOfTheUsersIsRemoved) {
    fs::path base = fresh_folder("foreign");
    fs::path obs = stock_installation(base, seven);
    fs::path target = base / "R";
    ASSERT_EQ(run_layout(quoted(target) + " " + quoted(obs)).code, 0);

    // An update brings a file where the user keeps one of the same name, in another case.
    write_file(obs / "bin" / "64bit" / "new.dll", "the installation's");
    write_file(target / "bin" / "64bit" / "NEW.DLL", "the user's");
    auto before = listing(target);
    LayoutRun refused = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(refused.code, 1) << refused.output;
    EXPECT_TRUE(says(refused, "NEW.DLL")) << refused.output;
    EXPECT_EQ(listing(target), before);
    fs::remove(target / "bin" / "64bit" / "NEW.DLL");

    // The list names files outside R: none is removed, each is named.
    std::vector<std::string> hostile = {"..\\victim-1.txt", "bin/../../victim-2.txt",
                                        (base / "victim-3.txt").string(),
                                        "\\" + base.relative_path().string() + "\\victim-4.txt",
                                        base.root_name().string() + "victim-5.txt"};
    std::ofstream(target / "kalto-obs-layout.list", std::ios::app) << [&] {
        std::string lines;
        for (const std::string& line : hostile)
            lines += line + "\n";
        return lines;
    }();
    for (int i = 1; i <= 5; ++i)
        write_file(base / ("victim-" + std::to_string(i) + ".txt"));
    // Gone from the installation: its files are removed from R.
    fs::remove(obs / "obs-plugins" / "64bit" / "obs-nvenc.dll");
    fs::path here = fs::current_path();
    fs::current_path(base); // where "C:victim-5.txt" would be
    LayoutRun run = run_layout(quoted(target) + " " + quoted(obs));
    fs::current_path(here);
    EXPECT_EQ(run.code, 0) << run.output;
    for (const std::string& line : hostile)
        EXPECT_TRUE(says(run, "entrée ignorée, elle ne nomme aucun fichier de l'arbre : " + line))
            << run.output;
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(fs::exists(base / ("victim-" + std::to_string(i) + ".txt"))) << i;
    EXPECT_FALSE(fs::exists(target / "core" / "obs-nvenc"));
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "new.dll"));

    // A junction in R, to a folder elsewhere: never followed, and the run refused.
    write_file(base / "elsewhere" / "keep.txt");
    ASSERT_TRUE(make_folder_link(target / "core" / "obs-nvenc", base / "elsewhere"));
    fs::remove(obs / "bin" / "64bit" / "new.dll");
    LayoutRun linked = run_layout(quoted(target) + " " + quoted(obs));
    EXPECT_EQ(linked.code, 1) << linked.output;
    EXPECT_TRUE(says(linked, "R\\core\\obs-nvenc")) << linked.output;
    EXPECT_TRUE(fs::exists(base / "elsewhere" / "keep.txt"));
    EXPECT_TRUE(fs::exists(target / "bin" / "64bit" / "new.dll"));
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
    // Refused: a folder in use, a target inside the installation, an unknown option.
    write_file(base / "used" / "notes.txt");
    EXPECT_EQ(run_layout(quoted(base / "used") + " " + quoted(obs)).code, 1);
    EXPECT_EQ(run_layout(quoted(obs / "R") + " " + quoted(obs)).code, 1);
    EXPECT_FALSE(fs::exists(obs / "R"));
    EXPECT_EQ(run_layout("--copies " + quoted(base / "R") + " " + quoted(obs)).code, 1);

    // Without a second argument, the folder the installer recorded; hard links
    // only when asked for.
    std::string key = "\"HKLM\\SOFTWARE\\OBS Studio\"";
    ASSERT_EQ(std::system(("reg add " + key + " /ve /d " + quoted(obs) + " /f >NUL 2>&1").c_str()),
              0);
    LayoutRun run = run_layout("--liens " + quoted(base / "R"));
    std::system(("reg delete " + key + " /f >NUL 2>&1").c_str());
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_TRUE(says(run, " liés")) << run.output;
    fs::path library = fs::path("core") / "win-capture" / "win-capture.dll";
    EXPECT_TRUE(
        fs::equivalent(base / "R" / library, obs / "obs-plugins" / "64bit" / "win-capture.dll"));
}

} // namespace
