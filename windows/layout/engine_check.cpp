#include "engine_check.h"

#include "engine_exports.h"
#include "obs_install.h"

#include <algorithm>

const char* const engine_30_export = "obs_add_raw_video_callback2";

// The version resource alone can be wrong: an engine built from a checkout
// without tags says 27.2.0 whatever its sources. What it exports cannot be.
EngineCheck check_engine(const std::filesystem::path& engine) {
    EngineCheck check;
    auto version = library_version(engine);
    if (version)
        check.version = std::to_string(version->major) + "." + std::to_string(version->minor) +
                        "." + std::to_string(version->patch);
    auto exports = library_exports(engine);
    const bool exports_read = exports.has_value();
    const bool has_30_export =
        exports && std::find(exports->begin(), exports->end(), engine_30_export) != exports->end();
    const std::string export_name = engine_30_export;

    if (version && version->major >= 30) {
        if (exports_read && !has_30_export) {
            check.refusal = "obs.dll se dit libobs " + check.version + " mais n'exporte pas " +
                            export_name + ", que l'agent appelle : moteur incomplet";
            return check;
        }
        if (!exports_read)
            check.warning = "table d'exportation d'obs.dll illisible : moteur jugé sur sa seule "
                            "version";
        check.accepted = true;
    } else if (has_30_export) {
        check.warning = (version ? "obs.dll se dit libobs " + check.version
                                 : std::string("obs.dll n'a pas de version lisible")) +
                        ", mais exporte " + export_name +
                        ", qui n'existe que depuis libobs 30 : moteur accepté (un moteur construit "
                        "sans étiquette de version se dit 27.2.0)";
        check.accepted = true;
    } else if (version) {
        check.refusal =
            "moteur " + check.version + " trop ancien : il faut OBS Studio 30 ou plus récent";
    } else {
        check.refusal = "version du moteur illisible, et obs.dll n'exporte pas " + export_name +
                        " : ce n'est pas un moteur libobs 30 ou plus récent";
    }
    return check;
}
