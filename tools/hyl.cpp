// hyl: the command-line face of the library.
//
//   hyl info TABLE                   record count, field count, each field
//   hyl dump TABLE [--csv] [--date FIELD]
//   hyl import TABLE DATA.csv [--format dbase3|dbase4|foxpro|vfp]
//                                    create a table from UTF-8 CSV
//   hyl append TABLE DATA.csv        append UTF-8 CSV rows to a table
//   hyl update TABLE DATA.csv        change records named by a RECORD column
//   hyl delete|undelete TABLE RECORD...
//   hyl pack TABLE [--no-backup]     remove the deleted records
//   hyl check TABLE... [--json]      find damage in tables
//   hyl repair TABLE [--dry-run] [--no-backup]
//   hyl plan OBJECT EQUIPMENT FROM TO [--root DIR] [--drive LETTER]
//   hyl time to-local|to-gmt|from-epoch VALUE
//
// Usage errors exit with 2 and a one-line hint; --help and --version exit 0.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "tools/tool.h"

namespace hyltool {
namespace {
int g_exit_status = 0;
}  // namespace

void set_exit_status(int status) { g_exit_status = status; }
int exit_status() { return g_exit_status; }

int usage_error(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "hyl: %s\nRun 'hyl%s%s --help' for usage.\n", message.c_str(), command.empty() ? "" : " ",
                 command.c_str());
    return kExitUsage;
}

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "hyl: %s\n", message.c_str());
    return status;
}

}  // namespace hyltool

int main(int argc, char** argv) {
    // The tool carries the library's core itself (the plan and the time
    // conversions go through its exports): set up its state as loading the
    // library would, and tear it down on the way out.
    hyl::frame_load();
    std::atexit(hyl::frame_unload);

    CLI::App app{"hyl: dBASE and FoxPro tables read, written, checked and repaired; the monthly plan; date conversions",
                 "hyl"};
    app.set_version_flag("--version", std::string("hyl ") + HYL_VERSION);
    app.require_subcommand(1);
    app.fallthrough(false);
    hyltool::add_read_commands(app);
    hyltool::add_write_commands(app);
    hyltool::add_edit_commands(app);
    hyltool::add_check_commands(app);
    hyltool::add_plan_command(app);
    hyltool::add_time_command(app);

    std::vector<std::string> args = hyltool::utf8_arguments(argc, argv);
    args.erase(args.begin());
    if (!args.empty() && !args[0].empty() && args[0][0] != '-') {
        const auto named = app.get_subcommands([&](CLI::App* sub) { return sub->check_name(args[0]); });
        if (named.empty()) return hyltool::usage_error("", "unknown command '" + args[0] + "'");
    }
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // The command the error belongs to, so the hint leads to its help.
        std::string command;
        for (const CLI::App* sub : app.get_subcommands()) command = sub->get_name();
        std::string message = e.what();
        if (message.empty()) message = "a command is needed";
        return hyltool::usage_error(command, message);
    }
    return hyltool::exit_status();
}
