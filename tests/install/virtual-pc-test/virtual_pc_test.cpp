// SPDX-License-Identifier: MIT
// The installed virtual PC linked into a program and driven through its control API: a byte
// strobed out through the component reaches the printer on LPT1.
//
// Build: c++ -o virtual-pc-test virtual_pc_test.cpp $(pkg-config --cflags --libs ferrox ferrox-vpc)
#include <cstdio>
#include <string>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/vpc/machine.h"

int main() {
  ferrox::vpc::Machine& machine = ferrox::vpc::Machine::instance();
  machine.reset();
  auto* pc = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  pc->OpenDriver();
  pc->fSetLPTNumber(1);
  pc->fSetPortB(pc->LPTBase(), 'A');
  pc->LPTStrobe();
  pc->Free();

  ferrox::vpc::Printer* printer = machine.parallel_ports().printer(0x378);
  std::string printed = printer ? printer->received_text() : "(no printer)";
  std::printf("the printer on LPT1 received \"%s\"\n", printed.c_str());
  return printed == "A" ? 0 : 1;
}
