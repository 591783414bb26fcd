// The parallel-port part of a machine file: one [[parallel_port]] table per port.
#pragma once

#include <vector>

#include "ferrox/vpc/description/machine_file_reader.h"
#include "ferrox/vpc/parallel/parallel_ports.h"

namespace vpc::machine_file {

constexpr const char* ParallelKey = "parallel_port";

// Replaces ports with the ones the array of tables describes.
void read_parallel_ports(const Reader& reader, const toml::node& node, std::vector<ParallelPortDescription>& ports);

}  // namespace vpc::machine_file
