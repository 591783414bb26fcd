// SPDX-License-Identifier: MIT
// What the tool prints besides its results: faults on standard error with the exit status they
// mean, and results as JSON for scripts.
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iostream>
#include <string_view>

namespace ferrox_tool {

// The exit statuses, as the help and the README list them.
constexpr int ExitSuccess = 0;
constexpr int ExitFailed = 1;  // the operation failed: no device, a refusal, a write that did not happen
constexpr int ExitUsage = 2;   // the command line asks for something that cannot be: nothing was done

// Reports a fault of the operation on standard error ("ferrox: ..."); returns ExitFailed.
int fail(std::string_view message);

// Reports a command line that cannot be carried out; returns ExitUsage.
int refuse(std::string_view message);

// --json: the command prints one JSON document instead of text.
void add_json_flag(CLI::App* command, bool& json);

// One document on one line, so that a stream of them reads line by line.
void print_json(const nlohmann::json& document);

// What a read command found, on standard output as text or, with --json, as one JSON document.
// Each result type has its pair of renderers beside its command: write_text(out, result) and
// json_of(result).
template <class Reading>
void show(const Reading& reading, bool json) {
  if (json)
    print_json(json_of(reading));
  else
    write_text(std::cout, reading);
}

// Standard output as a whole reached its file: ExitSuccess, or the fault (a full disk, a closed pipe).
int flush_output();

}  // namespace ferrox_tool
