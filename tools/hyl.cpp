// hyl: the command-line face of the library.
//
//   hyl info TABLE                   record count, field count, each field
//   hyl dump TABLE [--csv] [--date FIELD]
//   hyl import TABLE DATA.csv        create a table from UTF-8 CSV
//   hyl append TABLE DATA.csv        append UTF-8 CSV rows to a table
//   hyl plan OBJECT EQUIPMENT FROM TO [--root DIR] [--drive LETTER]
//   hyl time to-local|to-gmt|from-epoch VALUE
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tool.h"

namespace {

void print_usage(std::FILE* out) {
    std::fputs(
        "usage:\n"
        "  hyl info TABLE\n"
        "  hyl dump TABLE [--csv] [--date FIELD]\n"
        "  hyl import TABLE DATA.csv   (header row: NAME:TYPE:LENGTH[:DECIMALS])\n"
        "  hyl append TABLE DATA.csv   (header row: field names)\n"
        "  hyl plan OBJECT EQUIPMENT FROM TO [--root DIR] [--drive LETTER]\n"
        "  hyl time to-local|to-gmt|from-epoch VALUE\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> all = hyltool::utf8_arguments(argc, argv);
    if (all.size() < 2 || all[1] == "--help" || all[1] == "-h") {
        print_usage(all.size() < 2 ? stderr : stdout);
        return all.size() < 2 ? 2 : 0;
    }
    hyltool::Args args(all.begin() + 2, all.end());
    std::string command = all[1];
    if (command == "info") return hyltool::cmd_info(args);
    if (command == "dump") return hyltool::cmd_dump(args);
    if (command == "import") return hyltool::cmd_import(args);
    if (command == "append") return hyltool::cmd_append(args);
    if (command == "plan") return hyltool::cmd_plan(args);
    if (command == "time") return hyltool::cmd_time(args);
    std::fprintf(stderr, "hyl: unknown command '%s'\n", command.c_str());
    print_usage(stderr);
    return 2;
}
