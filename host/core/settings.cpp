// From the operator's files to the settings the core runs with.
#include "settings.h"

#include "config.h"
#include "config_lines.h"

namespace bbs {

bool load_settings(const std::string &directory, HostSettings &settings, std::vector<std::string> &errors) {
    set_bbs_directory(directory);
    HostConfig config = load_host_config(find_file_ignoring_case("WGSERV.CFG"));
    ClassesConfig classes = load_classes(find_file_ignoring_case("CLASSES.CFG"));
    errors.insert(errors.end(), config.errors.begin(), config.errors.end());
    errors.insert(errors.end(), classes.errors.begin(), classes.errors.end());
    settings = HostSettings{};
    for (const DllLine &d : config.dlls) settings.dlls.push_back(d.name);
    settings.address = config.address;
    settings.port = config.port;
    settings.lines = config.lines;
    settings.channels = config.channels;
    settings.cleanup_minutes = config.cleanup_minutes;
    settings.clock_system = config.clock_mode == ClockMode::system;
    settings.idle_warn_seconds = config.idle_warn_seconds;
    settings.idle_limit_seconds = config.idle_limit_seconds;
    settings.output_buffer = config.output_buffer;
    settings.line_output_room = config.line_output_room;
    settings.new_user_class = config.new_user_class;
    settings.sample_key = config.sample_key;
    settings.input_limit = config.input_limit;
    settings.output_stall_seconds = config.output_stall_seconds;
    settings.classes = classes.classes;
    if (!settings.new_user_class.empty()) {
        bool known = false;
        for (const ClassDefinition &c : settings.classes) known = known || same_key(c.name, settings.new_user_class);
        if (!known) errors.push_back("WGSERV.CFG: NEW_USER_CLASS=" + settings.new_user_class + " is not a class of CLASSES.CFG");
    }
    return errors.empty();
}

}  // namespace bbs
