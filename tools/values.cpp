// How dump writes values: numbers, and JSON through nlohmann-json; and the
// --encoding option that info, dump, check and import share.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <charconv>
#include <string>
#include <string_view>

#include "tables/codepage.h"
#include "tools/tool.h"

namespace hyltool {

void append_double(std::string& out, double value) {
    char text[32];
    const auto done = std::to_chars(text, text + sizeof text, value);
    out.append(text, done.ptr);
}

void append_json_string(std::string& out, std::string_view utf8) {
    // Most values need no escaping: they go across as they are, and the
    // rest through the JSON library.
    if (!holds_special(utf8, 0x20, "\"\\")) {
        out += '"';
        out += utf8;
        out += '"';
        return;
    }
    out += nlohmann::json(std::string(utf8)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void append_json_decimal(std::string& out, std::string_view text) {
    // JSON has no '+', no point without a digit on each side, and no
    // leading zeros: "+.50" is written 0.50, "1." 1, "007" 7.
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        if (text[0] == '-') out += '-';
        text.remove_prefix(1);
    }
    while (text.size() > 1 && text[0] == '0' && text[1] != '.') text.remove_prefix(1);
    if (!text.empty() && text[0] == '.') out += '0';
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);
    out += text;
}

void add_encoding_option(CLI::App* command, std::string& encoding) {
    command->add_option("--encoding", encoding,
                        "read text in code page NAME (UTF-8, 1251, cp866, ISO-8859-2, ...) whatever the table says")
        ->type_name("NAME")
        ->check([](const std::string& name) {
            hyl::TextCodec codec;
            const int codepage = hyl::CodePage_FromName(name);
            if (codepage == 0) return "'" + name + "' names no code page";
            if (!codec.set(codepage)) return hyl::CodePage_Name(codepage) + " is not one this system converts";
            return std::string();
        });
}

void add_threads_option(CLI::App* command, int& threads) {
    command->add_option("--threads", threads, "read a large table on N threads (default: every processor)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
}

}  // namespace hyltool
