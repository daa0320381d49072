// kalto-obs-layout: makes the agent's tree from an installed OBS Studio, and
// brings it up to date after each OBS Studio update.
//   kalto-obs-layout.exe <target folder> [<OBS Studio folder>]
#include "engine_check.h"
#include "layout.h"
#include "obs_install.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace fs = std::filesystem;

namespace {

// Exit codes: 0 only when the tree is complete.
constexpr int complete = 0, usage_error = 1, no_installation = 2, engine_refused = 3,
              not_written = 4, modules_missing = 5;

std::string text(const fs::path& path) {
    std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
}

int fail(int code, const std::string& line) {
    std::fflush(stdout);
    std::fputs((line + "\n").c_str(), stderr);
    return code;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names)
        out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "aucun" : out;
}

// Whether `inner` is `outer` or lies inside it, however either is spelled
// (case, short names, links): the same folder on disk is the same folder.
bool within(const fs::path& inner, const fs::path& outer) {
    std::error_code error;
    for (fs::path folder = fs::absolute(inner, error); !error;) {
        if (fs::equivalent(folder, outer, error))
            return true;
        error.clear();
        if (folder == folder.parent_path())
            break;
        folder = folder.parent_path();
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    use_utf8_console();
    if (argc < 2 || argc > 3)
        return fail(usage_error,
                    "usage : kalto-obs-layout.exe <dossier cible> [<dossier d'OBS Studio>]");
    fs::path target = argv[1];
    fs::path obs;
    if (argc == 3) {
        obs = argv[2];
    } else if (auto registered = registered_obs_folder()) {
        obs = *registered;
    } else {
        return fail(no_installation, "OBS Studio introuvable : HKLM\\SOFTWARE\\OBS Studio n'a "
                                     "pas de dossier ; donnez-le en second argument");
    }
    fs::path engine = obs / "bin" / "64bit" / "obs.dll";
    std::error_code error;
    if (!fs::is_regular_file(engine, error))
        return fail(no_installation,
                    "pas d'OBS Studio dans " + text(obs) + " : " + text(engine) + " manque");
    fs::path agent = own_folder() / "kalto-obs.exe";
    if (!fs::is_regular_file(agent, error))
        return fail(usage_error, "kalto-obs.exe introuvable à côté de kalto-obs-layout.exe (" +
                                     text(agent) + ")");
    if (within(target, obs) || within(obs, target))
        return fail(usage_error, "le dossier cible et celui d'OBS Studio doivent être distincts "
                                 "(l'un est dans l'autre)");

    EngineCheck engine_check = check_engine(engine);
    if (!engine_check.version.empty())
        say("moteur : libobs " + engine_check.version + " (" + text(obs) + ")");
    if (!engine_check.accepted)
        return fail(engine_refused, engine_check.refusal);
    if (!engine_check.warning.empty()) {
        std::fflush(stdout);
        std::fputs(("avertissement : " + engine_check.warning + "\n").c_str(), stderr);
    }

    // A folder in use is not ours to fill: R is empty, or a tree this program made.
    if (fs::exists(target, error) && !fs::is_empty(target, error) &&
        !fs::exists(target / layout_manifest, error))
        return fail(usage_error, text(target) + " n'est ni vide ni un arbre fait par "
                                                "kalto-obs-layout : choisissez un dossier neuf");
    fs::create_directories(target, error);
    if (error || !fs::is_directory(target, error))
        return fail(not_written, "impossible de créer " + text(target) + " : " + error.message());

    LayoutReport report = lay_out(obs, target, agent);
    say("modules trouvés : " + joined(report.found));
    if (!report.missing.empty()) {
        std::vector<std::string> described;
        for (const std::string& name : report.missing) {
            bool needed = std::find(report.missing_required.begin(), report.missing_required.end(),
                                    name) != report.missing_required.end();
            described.push_back(name + (needed ? " (nécessaire)" : " (facultatif)"));
        }
        say("modules absents : " + joined(described));
    }
    say("fichiers : " + std::to_string(report.linked) + " liés, " + std::to_string(report.copied) +
        " copiés, " + std::to_string(report.kept) + " inchangés, " +
        std::to_string(report.removed) + " retirés");
    for (const fs::path& path : report.failed)
        std::fputs(("impossible d'écrire " + text(path) + "\n").c_str(), stderr);
    if (!report.failed.empty())
        return fail(not_written, "arbre incomplet : " + std::to_string(report.failed.size()) +
                                     " fichier(s) non écrit(s)");
    if (!report.missing_required.empty())
        return fail(modules_missing,
                    "arbre incomplet : il manque " + joined(report.missing_required));
    say("arbre prêt : le contrôleur lance " + text(target / "bin" / "64bit" / "kalto-obs.exe"));
    return complete;
}
