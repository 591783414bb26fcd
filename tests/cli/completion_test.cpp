// SPDX-License-Identifier: MIT
// The bash completion the build writes from the tool's command tree, as bash runs it: what it
// offers for the words typed so far, and that it offers exactly what each command's --help lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/cli/support.h"

namespace {

using namespace cli;

// Bash completion as bash itself runs it, for the words typed so far.
std::string Complete(const std::string& words) {
  // The slots come from the virtual PC, which the variable asks for as --virtual does.
  Outcome run = Shell("FERROX_VIRTUAL=1 PATH=" + std::filesystem::path(FERROX_TOOL).parent_path().string() +
                      ":$PATH bash -c 'source " FERROX_COMPLETION "; "
                      "COMP_WORDS=(" + words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ferrox; "
                      "echo \"${COMPREPLY[*]}\"; complete -p ferrox'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("complete -F _ferrox ferrox"), std::string::npos);
  return run.out.substr(0, run.out.find('\n'));
}

TEST(CliConventions, BashCompletesSubcommandsOptionsAndSlots) {
  EXPECT_EQ(Complete("ferrox \"\""), "port mem pci irq lpt package demo trace record replay latency doctor help");
  EXPECT_EQ(Complete("ferrox replay --loose-p"), "--loose-polling");
  EXPECT_EQ(Complete("ferrox --machine m.toml lpt -p 2 pr"), "print");
  EXPECT_EQ(Complete("ferrox pci dump -x"), "-x -xxx -xxxx");
  EXPECT_EQ(Complete("ferrox pci list -m"), "-m -mm");
  EXPECT_EQ(Complete("ferrox pci list -d 8086: -"), "-h --help -n -nn -D -s -d -v -k -m -mm --json");
  EXPECT_EQ(Complete("ferrox irq watch -n 3 --t"), "--timeout");
  EXPECT_EQ(Complete("ferrox lpt autofeed o"), "on off");
  EXPECT_EQ(Complete("ferrox pci read 00:0"), "00:00.0 00:01.0 00:01.1 00:01.3 00:02.0 00:03.0");
  EXPECT_EQ(Complete("ferrox pci read 00:02.0 0"), "") << "a register is not completed";
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> Sorted(std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  return words;
}

// The subcommands and the spellings of the options that a command's --help lists.
struct Listed {
  std::vector<std::string> subcommands, options;
};

Listed HelpOf(const std::string& path) {
  Outcome help = Ferrox(path + " --help");
  EXPECT_EQ(help.status, 0) << path << "\n" << help.err;
  Listed listed;
  std::vector<std::string>* section = nullptr;
  std::istringstream lines(help.out);
  for (std::string line; std::getline(lines, line);) {
    if (line == "Options:" || line == "Subcommands:") {
      section = line == "Options:" ? &listed.options : &listed.subcommands;
    } else if (line.empty()) {
      section = nullptr;
    } else if (section && line.rfind("  ", 0) == 0 && line[2] != ' ') {
      std::string names = line.substr(2, line.find("  ", 2) - 2);  // the column left of the description
      if (section == &listed.subcommands) {
        section->push_back(names);
        continue;
      }
      std::replace(names.begin(), names.end(), ',', ' ');
      for (const std::string& word : Words(names))
        if (word.rfind('-', 0) == 0) section->push_back(word);  // not the type ("UINT:1..3")
    }
  }
  return listed;
}

// Every command, from the top, as its help leads to it: the completion offers its options and
// subcommands, no fewer (a new one forgotten) and no more (one taken away, or a hidden one).
void ExpectCompletionMatchesHelp(const std::string& path) {
  SCOPED_TRACE("ferrox " + path);
  Listed listed = HelpOf(path);
  std::string words = "ferrox" + (path.empty() ? "" : " " + path);
  EXPECT_EQ(Sorted(Words(Complete(words + " -"))), Sorted(listed.options));
  if (listed.subcommands.empty()) return;
  EXPECT_EQ(Words(Complete(words + " \"\"")), listed.subcommands);
  for (const std::string& sub : listed.subcommands) ExpectCompletionMatchesHelp(path.empty() ? sub : path + " " + sub);
}

TEST(CliCompletion, OffersWhatEachCommandsHelpLists) {
  ExpectCompletionMatchesHelp("");
  Listed pci_list = HelpOf("pci list");
  EXPECT_NE(std::find(pci_list.options.begin(), pci_list.options.end(), "-nn"), pci_list.options.end())
      << "the help shows the repeated flag too, so that the walk checks it";
}

TEST(CliCompletion, TheBuildInstallsWhatTheToolWrites) {
  Outcome written = Shell(std::string(FERROX_TOOL) + " completion bash");
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, ReadFile(FERROX_COMPLETION));
  EXPECT_EQ(Complete("ferrox com"), "") << "the command that writes it is hidden";
}

TEST(CliCompletion, ValuesOfOptionsAndArgumentsByTheirKind) {
  std::filesystem::path directory = ScratchDirectory();
  std::filesystem::path file = directory / "session.rec";
  std::ofstream(file) << "";
  EXPECT_EQ(Complete("ferrox replay " + (directory / "sess").string()), file.string()) << "the recording is a file";
  EXPECT_EQ(Complete("ferrox lpt capture --png " + (directory / "sess").string()), file.string());
  EXPECT_EQ(Complete("ferrox lpt set 2 h"), "high");
  EXPECT_EQ(Complete("ferrox lpt capture --rate 1"), "") << "a number is not completed";
  EXPECT_EQ(Complete("ferrox trace -- ls -"), "") << "after --, a word is the program's, not an option";
  std::filesystem::remove_all(directory);
}

}  // namespace
