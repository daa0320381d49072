#include "layout.h"

#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

const char* const layout_manifest = "kalto-obs-layout.list";

const std::vector<LayoutModule> layout_modules = {
    {"win-capture", true}, {"win-wasapi", true}, {"obs-ffmpeg", true},  {"obs-x264", true},
    {"obs-nvenc", false},  {"obs-qsv11", false}, {"obs-outputs", true},
};

namespace {

// Target path (relative to R) -> the file it must be.
using Plan = std::map<fs::path, fs::path>;

void plan_folder(Plan& plan, const fs::path& from, const fs::path& to) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(from, error), end; !error && it != end;
         it.increment(error))
        if (it->is_regular_file(error))
            plan[to / fs::relative(it->path(), from, error)] = it->path();
}

void plan_files_of(Plan& plan, const fs::path& from, const fs::path& to) {
    std::error_code error;
    for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error))
            plan[to / it->path().filename()] = it->path();
}

// Same file (a hard link to it), or a copy of the same size and time.
bool up_to_date(const fs::path& target, const fs::path& source) {
    std::error_code error;
    if (fs::equivalent(target, source, error))
        return true;
    return !error && fs::file_size(target, error) == fs::file_size(source, error) && !error &&
           fs::last_write_time(target, error) == fs::last_write_time(source, error) && !error;
}

// A hard link costs nothing and follows the installation's file; another
// volume, or a file system without links, gets a copy.
void place(const fs::path& target, const fs::path& source, LayoutReport& report) {
    std::error_code error;
    if (fs::exists(target, error)) {
        if (up_to_date(target, source)) {
            ++report.kept;
            return;
        }
        // The old file may be a link to the installation's: never written through.
        if (!fs::remove(target, error)) {
            report.failed.push_back(target);
            return;
        }
    }
    fs::create_directories(target.parent_path(), error);
    if (fs::create_hard_link(source, target, error); !error) {
        ++report.linked;
        return;
    }
    if (fs::copy_file(source, target, fs::copy_options::none, error); !error) {
        fs::last_write_time(target, fs::last_write_time(source, error), error);
        ++report.copied;
        return;
    }
    report.failed.push_back(target);
}

// What the previous run placed, relative to R, one path a line.
std::vector<fs::path> read_manifest(const fs::path& file) {
    std::vector<fs::path> paths;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            paths.push_back(fs::path(std::u8string(line.begin(), line.end())));
    return paths;
}

bool write_manifest(const fs::path& file, const Plan& plan) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const auto& [relative, source] : plan) {
        std::u8string text = relative.generic_u8string();
        out << std::string(text.begin(), text.end()) << '\n';
    }
    return static_cast<bool>(out);
}

// Removes what the previous run placed and this plan no longer has: only files
// this program put there, so nothing of the user's and nothing behind a link.
void remove_stale(const fs::path& root, const std::vector<fs::path>& previous, const Plan& plan,
                  LayoutReport& report) {
    for (const fs::path& relative : previous) {
        if (plan.count(relative) || relative.is_absolute() || relative.empty() ||
            *relative.begin() == "..")
            continue;
        std::error_code error;
        fs::path file = root / relative;
        if (!fs::exists(file, error))
            continue;
        if (!fs::remove(file, error)) {
            report.failed.push_back(file);
            continue;
        }
        ++report.removed;
        // Its folders go too once empty, up to R itself.
        for (fs::path folder = file.parent_path(); folder != root && folder.has_relative_path();
             folder = folder.parent_path())
            if (!fs::is_empty(folder, error) || error || !fs::remove(folder, error))
                break;
    }
}

} // namespace

LayoutReport lay_out(const fs::path& obs, const fs::path& target, const fs::path& agent) {
    LayoutReport report;
    Plan plan;
    const fs::path bin = fs::path("bin") / "64bit";
    plan_files_of(plan, obs / bin, bin);
    plan_folder(plan, obs / "data" / "libobs", fs::path("data") / "libobs");
    for (const LayoutModule& module : layout_modules) {
        fs::path library = obs / "obs-plugins" / "64bit" / (std::string(module.name) + ".dll");
        std::error_code error;
        if (!fs::is_regular_file(library, error)) {
            report.missing.push_back(module.name);
            if (module.required)
                report.missing_required.push_back(module.name);
            continue;
        }
        report.found.push_back(module.name);
        fs::path core = fs::path("core") / module.name;
        plan[core / library.filename()] = library;
        plan_folder(plan, obs / "data" / "obs-plugins" / module.name, core / "data");
    }
    // The agent is ours, not the installation's: always placed, never stale.
    const fs::path agent_name = bin / agent.filename();
    plan[agent_name] = agent;
    for (const auto& [relative, source] : plan)
        place(target / relative, source, report);
    fs::path manifest = target / layout_manifest;
    remove_stale(target, read_manifest(manifest), plan, report);
    if (!write_manifest(manifest, plan))
        report.failed.push_back(manifest);
    return report;
}
