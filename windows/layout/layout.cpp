#include "layout.h"

#include "manifest.h"
#include "tree.h"

#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

const std::vector<LayoutModule> layout_modules = {
    {"win-capture", true}, {"win-wasapi", true}, {"obs-ffmpeg", true},  {"obs-x264", true},
    {"obs-nvenc", false},  {"obs-qsv11", false}, {"obs-outputs", true},
};

const char* const new_tree_suffix = ".kalto-new";
const char* const old_tree_suffix = ".kalto-old";
const char* const lock_suffix = ".kalto-lock";

fs::path beside(const fs::path& target, const char* suffix) {
    return target.parent_path() / (target.filename().wstring() + fs::path(suffix).wstring());
}

namespace {

// Target path (relative to R) -> the file it must be. Names compare as Windows
// compares them, so that a file renamed in case only is still the same file.
using Plan = std::map<fs::path, fs::path, NameLess>;
using NameSet = std::set<fs::path, NameLess>;

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

Plan plan_layout(const fs::path& obs, const fs::path& agent, LayoutReport& report) {
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
    // The agent is ours, not the installation's: always placed.
    plan[bin / agent.filename()] = agent;
    return plan;
}

// What R holds: the files on its list, the user's files and folders.
struct OldTree {
    std::map<fs::path, fs::path, NameLess> ours; // as listed -> as spelt on disk
    std::vector<fs::path> your_files, your_folders;
    std::vector<fs::path> listed; // the list's entries, in its order
};

bool same_name(const fs::path& a, const fs::path& b) {
    return !NameLess()(a, b) && !NameLess()(b, a);
}

bool same_spelling(const fs::path& a, const fs::path& b) {
    return a.generic_wstring() == b.generic_wstring();
}

// A copy of the installation's file, unchanged since it was made: its time
// is the source's. Never the installation's file itself (a hard link).
bool reusable(const fs::path& old, const fs::path& source, LayoutMode mode) {
    auto was = file_facts(old), is = file_facts(source);
    if (!was || !is)
        return false;
    const bool same_file = was->volume == is->volume && was->index == is->index;
    if (mode == LayoutMode::links)
        return same_file;
    return !same_file && was->size == is->size && was->written == is->written;
}

bool hard_link(const fs::path& existing, const fs::path& link) {
    std::error_code error;
    fs::create_hard_link(existing, link, error);
    return !error;
}

// Every folder above the given paths.
NameSet folders_above(const std::vector<fs::path>& paths) {
    NameSet folders;
    for (const fs::path& path : paths)
        for (fs::path folder = path.parent_path(); folder.has_relative_path();
             folder = folder.parent_path())
            folders.insert(folder);
    return folders;
}

// Reads R: its list, and what is in it. False when R cannot be read.
bool read_old_tree(const fs::path& target, OldTree& old, LayoutReport& report) {
    auto entries = list_tree(target);
    if (!entries) {
        report.failed.push_back(target);
        return false;
    }
    Manifest manifest = read_manifest(target / layout_manifest);
    report.rejected_entries = manifest.rejected;
    NameSet listed(manifest.entries.begin(), manifest.entries.end());
    old.listed = manifest.entries;
    const NameSet listed_folders = folders_above(manifest.entries);
    for (const TreeEntry& entry : *entries) {
        if (entry.kind == TreeEntry::reparse_point)
            report.links.push_back(entry.relative);
        else if (entry.kind == TreeEntry::folder && !listed_folders.count(entry.relative))
            old.your_folders.push_back(entry.relative);
        else if (entry.kind == TreeEntry::file && !same_name(entry.relative, layout_manifest)) {
            if (auto it = listed.find(entry.relative); it != listed.end())
                old.ours[*it] = entry.relative;
            else
                old.your_files.push_back(entry.relative);
        }
    }
    return true;
}

// The user's files and folders that stand where the tree needs its own: a
// file at a planned file's or folder's place, or a folder at a file's.
std::vector<fs::path> in_the_way(const Plan& plan, const OldTree& old) {
    std::vector<fs::path> planned;
    for (const auto& [relative, source] : plan)
        planned.push_back(relative);
    const NameSet planned_folders = folders_above(planned);
    std::vector<fs::path> found;
    for (const fs::path& file : old.your_files) {
        bool blocks = plan.count(file) || planned_folders.count(file);
        for (fs::path folder = file.parent_path(); folder.has_relative_path();
             folder = folder.parent_path())
            blocks = blocks || plan.count(folder);
        if (blocks)
            found.push_back(file);
    }
    for (const fs::path& folder : old.your_folders)
        if (plan.count(folder))
            found.push_back(folder);
    return found;
}

// Whether R is exactly what this run would build: then it is left alone, and
// a running agent does not stand in the way.
bool up_to_date(const fs::path& target, const Plan& plan, const OldTree& old,
                const LayoutReport& report, LayoutMode mode) {
    if (old.ours.size() != plan.size() || old.listed.size() != plan.size() ||
        !report.rejected_entries.empty())
        return false;
    auto listed = old.listed.begin();
    for (const auto& [relative, source] : plan) {
        auto it = old.ours.find(relative);
        if (it == old.ours.end() || !same_spelling(it->second, relative) ||
            !same_spelling(*listed++, relative) || !reusable(target / it->second, source, mode))
            return false;
    }
    return true;
}

// The new tree, complete, in `fresh`: the plan's files and the user's.
void build(const fs::path& fresh, const fs::path& target, const Plan& plan, const OldTree& old,
           LayoutMode mode, LayoutReport& report) {
    std::error_code error;
    std::vector<fs::path> planned;
    for (const auto& [relative, source] : plan)
        planned.push_back(relative);
    // The list first: it marks the folder as this program's, should the run stop.
    if (!fs::create_directory(fresh, error) || !write_manifest(fresh / layout_manifest, planned)) {
        report.failed.push_back(fresh);
        return;
    }
    for (const auto& [relative, source] : plan) {
        const fs::path file = fresh / relative;
        fs::create_directories(file.parent_path(), error);
        // Unchanged since the last run: the old tree's copy, linked rather than copied again.
        auto it = old.ours.find(relative);
        if (mode == LayoutMode::copies && it != old.ours.end() &&
            reusable(target / it->second, source, mode) && hard_link(target / it->second, file))
            ++report.reused;
        else if (mode == LayoutMode::links && hard_link(source, file))
            ++report.linked;
        else if (copy_file_as_is(source, file))
            ++report.copied;
        else
            report.failed.push_back(target / relative);
    }
    // The user's own files come along, as links to themselves where the volume allows.
    for (const fs::path& folder : old.your_folders)
        fs::create_directories(fresh / folder, error);
    for (const fs::path& relative : old.your_files) {
        fs::create_directories((fresh / relative).parent_path(), error);
        if (hard_link(target / relative, fresh / relative) ||
            copy_file_as_is(target / relative, fresh / relative))
            ++report.kept_yours;
        else
            report.failed.push_back(target / relative);
    }
}

} // namespace

LayoutReport lay_out(const fs::path& obs, const fs::path& target, const fs::path& agent,
                     LayoutMode mode) {
    LayoutReport report;
    std::error_code error;
    const fs::path fresh = beside(target, new_tree_suffix);
    const fs::path previous = beside(target, old_tree_suffix);

    // A run stopped between its two renames left no R: its previous tree comes back.
    if (!fs::exists(target, error) && fs::exists(previous / layout_manifest, error)) {
        // A link planted there is not taken for the tree.
        if (is_reparse_point(previous) || rename_folder(previous, target) != 0) {
            report.failed.push_back(target);
            return report;
        }
        report.restored = true;
    }
    // What a stopped run left beside R is removed, if this program made it.
    for (const fs::path& leftover : {fresh, previous}) {
        if (!fs::exists(leftover, error))
            continue;
        if (!fs::exists(leftover / layout_manifest, error) && !fs::is_empty(leftover, error)) {
            report.foreign_beside = leftover;
            return report;
        }
        if (!remove_tree(leftover)) {
            report.stuck_beside = leftover;
            return report;
        }
    }

    OldTree old;
    const bool had_tree = fs::exists(target, error);
    if (had_tree) {
        if (!fs::is_empty(target, error) && !fs::exists(target / layout_manifest, error)) {
            report.not_ours = true;
            return report;
        }
        if (!read_old_tree(target, old, report) || !report.links.empty())
            return report;
    }

    const Plan plan = plan_layout(obs, agent, report);
    report.in_the_way = in_the_way(plan, old);
    if (!report.in_the_way.empty())
        return report;
    if (had_tree && up_to_date(target, plan, old, report, mode)) {
        report.unchanged = true;
        report.reused = static_cast<int>(plan.size());
        return report;
    }

    build(fresh, target, plan, old, mode, report);
    if (!report.failed.empty()) {
        remove_tree(fresh);
        return report;
    }
    for (const auto& [listed, on_disk] : old.ours)
        report.removed += plan.count(listed) ? 0 : 1;

    // The swap. Windows refuses to rename a folder holding an open file, such
    // as a running agent's: R then stays as it was.
    if (had_tree && (report.in_use = rename_folder(target, previous)) != 0) {
        remove_tree(fresh);
        return report;
    }
    if (uint32_t refused = rename_folder(fresh, target); refused != 0) {
        report.in_use = refused;
        report.left_aside = had_tree && rename_folder(previous, target) != 0;
        remove_tree(fresh);
        return report;
    }
    report.old_tree_left = had_tree && !remove_tree(previous);
    return report;
}
