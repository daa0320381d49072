#include "layout.h"

#include <map>
#include <system_error>

namespace fs = std::filesystem;

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
        fs::remove(target, error);
    }
    fs::create_directories(target.parent_path(), error);
    if (fs::create_hard_link(source, target, error); !error) {
        ++report.linked;
        return;
    }
    if (fs::copy_file(source, target, fs::copy_options::overwrite_existing, error); !error) {
        fs::last_write_time(target, fs::last_write_time(source, error), error);
        ++report.copied;
        return;
    }
    report.failed.push_back(target);
}

// Files under the managed folders of R that the plan no longer has.
void remove_stale(const fs::path& root, const fs::path& folder, const Plan& plan,
                  const std::vector<fs::path>& keep, LayoutReport& report) {
    std::error_code error;
    std::vector<fs::path> stale;
    for (fs::recursive_directory_iterator it(root / folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        fs::path relative = fs::relative(it->path(), root, error);
        bool kept = false;
        for (const fs::path& k : keep)
            kept = kept || relative == k;
        if (!kept && !plan.count(relative))
            stale.push_back(it->path());
    }
    for (const fs::path& path : stale)
        if (fs::remove(path, error))
            ++report.removed;
    // Folders left empty go too, deepest first.
    std::vector<fs::path> folders;
    for (fs::recursive_directory_iterator it(root / folder, error), end; !error && it != end;
         it.increment(error))
        if (it->is_directory(error))
            folders.push_back(it->path());
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        if (fs::is_empty(*it, error))
            fs::remove(*it, error);
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
    const fs::path layout_name = bin / "kalto-obs-layout.exe";
    remove_stale(target, bin, plan, {agent_name, layout_name}, report);
    remove_stale(target, fs::path("data") / "libobs", plan, {}, report);
    remove_stale(target, "core", plan, {}, report);
    return report;
}
