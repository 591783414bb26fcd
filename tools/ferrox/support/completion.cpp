// SPDX-License-Identifier: MIT
// The bash completion written out from the command tree: a table per question the completion
// asks (the subcommands of a command, its options, what an option's value is, what its
// positional arguments are), keyed by the command's path ("", "port", "port read"), and one
// fixed function that walks the words typed so far through them.
#include "tools/ferrox/support/completion.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

namespace ferrox_tool {

namespace {

// Where a value is one of these, the completion offers them; anything else is a number or an
// expression, which it leaves to the user.
constexpr const char* FileValue = "file";
constexpr const char* ProgramValue = "program";
constexpr const char* SlotValue = "slot";
constexpr const char* NoValue = "-";

// The words of the completion's four tables, one case line per command or option.
struct Tables {
  std::string subcommands, options, option_values, positionals;
};

// A help that lists a subcommand or an option in no group hides it, as it hides "completion".
bool shown(const std::string& group) { return !group.empty(); }

std::vector<const CLI::App*> shown_subcommands(const CLI::App& command) {
  return command.get_subcommands([](const CLI::App* sub) { return shown(sub->get_group()); });
}

std::vector<const CLI::Option*> shown_options(const CLI::App& command, bool positional) {
  return command.get_options(
      [positional](const CLI::Option* option) { return shown(option->get_group()) && option->get_positional() == positional; });
}

// A flag takes no value: it is there or not, or counted.
bool is_flag(const CLI::Option& option) { return option.get_items_expected_max() == 0; }

// "-s --size", and a counted flag's repetitions: every spelling of the option the help shows.
std::vector<std::string> spellings(const CLI::Option& option) {
  std::vector<std::string> names;
  for (const std::string& name : option.get_snames()) names.push_back("-" + name);
  for (const std::string& name : option.get_lnames()) names.push_back("--" + name);
  if (is_flag(option))
    for (const std::string& word : CLI::detail::split(option.get_option_text(), ' '))
      if (word.rfind('-', 0) == 0) names.push_back(word);
  return names;
}

// A small set of words, as "on|off" names its values.
bool is_word_list(const std::string& type) {
  return type.find('|') != std::string::npos &&
         std::all_of(type.begin(), type.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '|' || c == '-'; });
}

// What a value is, as the help names it: its type ("FILE.png", "RECORDING", "PROGRAM ARGS...",
// "on|off") or, for a positional argument of plain text, its name ("FILE", "PATH", "SLOT").
std::string value_kind(const CLI::Option& option) {
  std::string type = option.get_type_name();
  std::string name = option.get_positional() ? option.get_name() : "";
  if (type.rfind("PROGRAM", 0) == 0) return ProgramValue;
  if (type.rfind("FILE", 0) == 0 || type == "RECORDING" || name == "FILE" || name == "PATH") return FileValue;
  if (name == "SLOT") return SlotValue;
  if (is_word_list(type)) return type;
  return NoValue;
}

std::string joined(const std::vector<std::string>& words) { return fmt::format("{}", fmt::join(words, " ")); }

void add_command(Tables& tables, const CLI::App& command, const std::string& path) {
  std::vector<std::string> subcommands, options, positionals;
  for (const CLI::App* sub : shown_subcommands(command)) subcommands.push_back(sub->get_name());
  for (const CLI::Option* option : shown_options(command, false)) {
    std::vector<std::string> names = spellings(*option);
    options.insert(options.end(), names.begin(), names.end());
    if (is_flag(*option)) continue;
    for (const std::string& name : names)
      tables.option_values += fmt::format("    \"{} {}\") echo \"{}\" ;;\n", path, name, value_kind(*option));
  }
  for (const CLI::Option* option : shown_options(command, true))
    positionals.push_back(value_kind(*option) +
                          (option->get_expected_max() >= CLI::detail::expected_max_vector_size ? "..." : ""));
  if (!subcommands.empty()) tables.subcommands += fmt::format("    \"{}\") echo \"{}\" ;;\n", path, joined(subcommands));
  tables.options += fmt::format("    \"{}\") echo \"{}\" ;;\n", path, joined(options));
  if (!positionals.empty()) tables.positionals += fmt::format("    \"{}\") echo \"{}\" ;;\n", path, joined(positionals));
  for (const CLI::App* sub : shown_subcommands(command))
    add_command(tables, *sub, path.empty() ? sub->get_name() : path + " " + sub->get_name());
}

// The walk: the words before the cursor choose the command (values of options skipped,
// positional arguments counted), and the word at the cursor is completed as that command's
// option, subcommand, an option's value or its next positional argument.
constexpr const char* Walk = R"bash(
# Completes the word $2 as a value of the kind $1.
_ferrox_complete_value() {
  case $1 in
    file) COMPREPLY=($(compgen -f -- "$2")) ;;
    program) COMPREPLY=($(compgen -c -- "$2") $(compgen -f -- "$2")) ;;
    slot) COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" pci list -n 2>/dev/null | cut -d' ' -f1)" -- "$2")) ;;
    *'|'*) COMPREPLY=($(compgen -W "${1//|/ }" -- "$2")) ;;
    *) COMPREPLY=() ;;
  esac
}

# The kind of the positional argument number $2 (from 0) of the command $1.
_ferrox_positional() {
  local kinds=($(_ferrox_positionals "$1"))
  local count=${#kinds[@]}
  if (($2 < count)); then
    echo "${kinds[$2]%...}"
  elif ((count > 0)) && [[ ${kinds[count - 1]} == *... ]]; then
    echo "${kinds[count - 1]%...}"
  fi
}

_ferrox() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local path="" positionals=0 options_ended="" word i
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $options_ended && -n $(_ferrox_option_value "$path" "$word") ]]; then
      ((i++))
    elif [[ -z $options_ended && $word == -- ]]; then
      options_ended=yes
    elif [[ -z $options_ended && $word == -* ]]; then
      :
    elif ((positionals == 0)) && [[ " $(_ferrox_subcommands "$path") " == *" $word "* ]]; then
      path=${path:+$path }$word
    else
      ((positionals++))
    fi
  done

  local value=""
  [[ -z $options_ended ]] && value=$(_ferrox_option_value "$path" "$prev")
  if [[ -n $value ]]; then
    _ferrox_complete_value "$value" "$cur"
  elif [[ -z $options_ended && $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_ferrox_options "$path")" -- "$cur"))
  elif [[ -n $(_ferrox_subcommands "$path") ]]; then
    COMPREPLY=($(compgen -W "$(_ferrox_subcommands "$path")" -- "$cur"))
  else
    _ferrox_complete_value "$(_ferrox_positional "$path" "$positionals")" "$cur"
  fi
}

complete -F _ferrox ferrox
)bash";

std::string table(const char* name, const char* what, const char* key, const std::string& lines) {
  return fmt::format("\n# {}\n{}() {{\n  case {} in\n{}  esac\n}}\n", what, name, key, lines);
}

}  // namespace

CLI::Option* add_counted_flag(CLI::App* command, const std::string& flag, const std::vector<std::string>& repetitions,
                              int& count, const std::string& description) {
  return command->add_flag(flag, count, description)->option_text(joined(repetitions));
}

std::string bash_completion(const CLI::App& app) {
  Tables tables;
  add_command(tables, app, "");
  return "# bash completion for ferrox, written by \"ferrox completion bash\" from the tool's command tree:\n"
         "# the subcommands and options each command's --help lists, files, programs and words where a value\n"
         "# is one, and the slots of the PCI functions present (from \"ferrox pci list -n\") where a slot is.\n" +
         table("_ferrox_subcommands", "The subcommands of the command $1.", "$1", tables.subcommands) +
         table("_ferrox_options", "The options of the command $1.", "$1", tables.options) +
         table("_ferrox_option_value", "What the value of the option $2 of the command $1 is; nothing for a flag.",
               "\"$1 $2\"", tables.option_values) +
         table("_ferrox_positionals",
               "What the positional arguments of the command $1 are, in order; one ending in ... repeats.", "$1",
               tables.positionals) +
         Walk;
}

}  // namespace ferrox_tool
