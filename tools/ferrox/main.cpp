// ferrox: one command for the whole library, on the real driver or the built-in virtual PC.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "tools/ferrox/demo.h"
#include "tools/ferrox/platform.h"

int main(int argc, char** argv) {
  CLI::App app{"ferrox: PC hardware from user space (I/O ports, physical memory, PCI, IRQs, parallel port)"};
  app.require_subcommand(1);
  bool want_virtual = false;
  app.add_flag("--virtual", want_virtual, "Run on the built-in virtual PC even where /dev/ferrox exists");

  CLI::App* demo = app.add_subcommand("demo", "A guided tour of every subsystem on the virtual PC");

  CLI11_PARSE(app, argc, argv);

  std::string error;
  ferrox_tool::Platform platform = ferrox_tool::choose_platform(want_virtual || demo->parsed(), argv, error);
  if (!error.empty()) {
    std::cerr << "ferrox: " << error << "\n";
    return 1;
  }
  std::cout << "ferrox on " << ferrox_tool::platform_name(platform) << "\n";
  if (demo->parsed()) return ferrox_tool::run_demo(std::cout);
  return 0;
}
