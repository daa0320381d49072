// kalto-obs-layout: makes the agent's tree from an installed OBS Studio, and
// brings it up to date after each OBS Studio update.
//   kalto-obs-layout.exe [--liens] <target folder> [<OBS Studio folder>]
#include "engine_check.h"
#include "layout.h"
#include "manifest.h"
#include "obs_install.h"
#include "tree.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>

namespace fs = std::filesystem;

namespace {

// Exit codes: 0 only when the tree is complete.
constexpr int complete = 0, usage_error = 1, no_installation = 2, engine_refused = 3,
              not_written = 4, modules_missing = 5, tree_in_use = 6;

const char* const usage =
    "usage : kalto-obs-layout.exe [--liens] <dossier cible> [<dossier d'OBS Studio>]";

std::string text(const fs::path& path) {
    return path_text(path);
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
}

void warn(const std::string& line) {
    std::fflush(stdout);
    std::fputs((line + "\n").c_str(), stderr);
}

int fail(int code, const std::string& line) {
    warn(line);
    return code;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names)
        out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "aucun" : out;
}

std::string joined(const fs::path& root, const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const fs::path& path : paths)
        names.push_back(text(root / path));
    return joined(names);
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

void describe_modules(const LayoutReport& report) {
    say("modules trouvés : " + joined(report.found));
    if (report.missing.empty())
        return;
    std::vector<std::string> described;
    for (const std::string& name : report.missing) {
        bool needed = std::find(report.missing_required.begin(), report.missing_required.end(),
                                name) != report.missing_required.end();
        described.push_back(name + (needed ? " (nécessaire)" : " (facultatif)"));
    }
    say("modules absents : " + joined(described));
}

int run(int argc, wchar_t** argv) {
    LayoutMode mode = LayoutMode::copies;
    std::vector<fs::path> folders;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--liens")
            mode = LayoutMode::links;
        else if (argument.starts_with(L"--") || folders.size() == 2)
            return fail(usage_error, usage);
        else
            folders.push_back(argument);
    }
    if (folders.empty())
        return fail(usage_error, usage);
    std::error_code error;
    fs::path target = fs::absolute(folders[0], error).lexically_normal();
    if (!target.has_filename())
        target = target.parent_path();
    fs::path obs;
    if (folders.size() == 2) {
        obs = folders[1];
    } else if (auto registered = registered_obs_folder()) {
        obs = *registered;
    } else {
        return fail(no_installation, "OBS Studio introuvable : HKLM\\SOFTWARE\\OBS Studio n'a "
                                     "pas de dossier ; donnez-le en second argument");
    }
    fs::path engine = obs / "bin" / "64bit" / "obs.dll";
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
    // The target is renamed as a whole: it needs a parent, and must not hold this program.
    if (target == target.root_path() || !target.has_filename())
        return fail(usage_error, "le dossier cible ne peut pas être la racine d'un volume");
    if (within(own_folder(), target))
        return fail(usage_error, "lancez kalto-obs-layout.exe depuis le dossier du ZIP, pas "
                                 "depuis l'arbre qu'il fait (" +
                                     text(target) + ")");
    if (is_reparse_point(target))
        return fail(usage_error, text(target) + " est une jonction ou un lien : donnez le "
                                                "dossier lui-même");

    EngineCheck engine_check = check_engine(engine);
    if (!engine_check.version.empty())
        say("moteur : libobs " + engine_check.version + " (" + text(obs) + ")");
    if (!engine_check.warning.empty())
        warn("avertissement : " + engine_check.warning);
    if (!engine_check.accepted)
        return fail(engine_refused, engine_check.refusal);

    fs::create_directories(target.parent_path(), error);
    if (error || !fs::is_directory(target.parent_path(), error))
        return fail(not_written,
                    "impossible de créer " + text(target.parent_path()) + " : " + error.message());
    switch (lock_tree(beside(target, lock_suffix))) {
    case TreeLock::taken:
        break;
    case TreeLock::held_elsewhere:
        return fail(tree_in_use, "une autre exécution de kalto-obs-layout travaille sur " +
                                     text(target) + " : relancez quand elle aura fini");
    case TreeLock::impossible:
        return fail(not_written, "impossible d'écrire dans " + text(target.parent_path()));
    }

    LayoutReport report = lay_out(obs, target, agent, mode);
    const fs::path previous = beside(target, old_tree_suffix);
    if (report.restored)
        say("arbre précédent remis en place depuis " + text(previous) +
            " (une exécution s'était arrêtée avant la fin)");
    for (const std::string& line : report.rejected_entries)
        warn("avertissement : " + text(target / layout_manifest) +
             " : entrée ignorée, elle ne nomme aucun fichier de l'arbre : " + line);
    if (!report.foreign_beside.empty())
        return fail(usage_error, text(report.foreign_beside) +
                                     " existe et n'est pas un dossier de kalto-obs-layout : "
                                     "déplacez-le ou renommez-le");
    if (!report.stuck_beside.empty())
        return fail(not_written, "impossible de retirer " + text(report.stuck_beside) +
                                     ", laissé par une exécution arrêtée : retirez-le");
    if (report.not_ours)
        return fail(usage_error, text(target) + " n'est ni vide ni un arbre fait par "
                                                "kalto-obs-layout : choisissez un dossier neuf");
    if (!report.links.empty())
        return fail(usage_error, "jonction ou lien dans l'arbre, jamais suivi : " +
                                     joined(target, report.links) +
                                     " ; retirez-le : rien n'a été écrit");
    if (!report.found.empty() || !report.missing.empty())
        describe_modules(report);
    if (!report.in_the_way.empty())
        return fail(usage_error, "fichier qui n'est pas de kalto-obs-layout (absent de " +
                                     std::string(layout_manifest) + ") à une place de l'arbre : " +
                                     joined(target, report.in_the_way) +
                                     " ; déplacez-le ou retirez-le : rien n'a été écrit");
    for (const fs::path& path : report.failed)
        warn("impossible d'écrire " + text(path));
    if (!report.failed.empty())
        return fail(not_written, "arbre inchangé : " + std::to_string(report.failed.size()) +
                                     " fichier(s) non écrit(s)");
    if (report.in_use != 0) {
        if (report.left_aside)
            return fail(not_written, text(target) + " est resté sous le nom " + text(previous) +
                                         " : relancez kalto-obs-layout pour le remettre");
        return fail(tree_in_use, "Windows refuse de renommer " + text(target) + " (erreur " +
                                     std::to_string(report.in_use) +
                                     ") : un programme y tient un fichier ouvert (l'agent, une "
                                     "invite de commandes, l'Explorateur) ; fermez-le et "
                                     "relancez : l'arbre est resté tel quel");
    }
    if (report.unchanged)
        say("fichiers : déjà à jour (" + std::to_string(report.reused) + " inchangés)");
    else
        say("fichiers : " + std::to_string(report.copied) + " copiés, " +
            std::to_string(report.linked) + " liés, " + std::to_string(report.reused) +
            " repris de l'arbre précédent, " + std::to_string(report.removed) + " retirés");
    if (report.kept_yours > 0)
        say("fichiers à vous gardés : " + std::to_string(report.kept_yours));
    if (report.old_tree_left)
        warn("avertissement : l'ancien arbre n'a pas pu être retiré : " + text(previous) +
             " (la prochaine exécution le retirera)");
    if (!report.missing_required.empty())
        return fail(modules_missing,
                    "arbre incomplet : il manque " + joined(report.missing_required));
    say("arbre prêt : le contrôleur lance " + text(target / "bin" / "64bit" / "kalto-obs.exe"));
    return complete;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    use_utf8_console();
    try {
        return run(argc, argv);
    } catch (const std::exception& failure) {
        return fail(not_written, std::string("erreur inattendue : ") + failure.what());
    }
}
