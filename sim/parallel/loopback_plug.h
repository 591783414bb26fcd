// The loopback plug of parallel-port test kits: five wires, each from an output of the port to
// one of its inputs, so that every input can be driven from software and every output checked.
//
//   1 strobe    - 13 select        2 data 0  - 15 error       10 acknowledge - 16 init
//   11 busy     - 17 select in     12 paper end - 14 auto feed
//
// The plug drives nothing itself: a wired pair carries the level its output drives, seen on
// both pins.
#pragma once

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/parallel/parallel_connector.h"

namespace vpc {

VPC_API void insert_loopback_plug(ParallelConnector& connector);

}  // namespace vpc
