// SPDX-License-Identifier: MIT
// The loopback plug's wiring.
#include "ferrox/vpc/parallel/parallel_ports.h"

namespace ferrox::vpc {

namespace {

struct Wire {
  unsigned pin;
  unsigned other;
};

constexpr Wire LoopbackWires[] = {{1, 13}, {2, 15}, {10, 16}, {11, 17}, {12, 14}};

}  // namespace

void insert_loopback_plug(ParallelConnector& connector) {
  for (const Wire& wire : LoopbackWires) connector.join(wire.pin, wire.other);
}

}  // namespace ferrox::vpc
