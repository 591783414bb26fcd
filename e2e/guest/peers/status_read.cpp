// SPDX-License-Identifier: MIT
// One read of the parallel port's status register: the library on both paths, /dev/port, and
// ppdev's PPRSTATUS.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "common/check.h"
#include "peers/peers.h"
#include "tests/support/component.h"

namespace peers {

namespace {

// The status register as /dev/port and ppdev give it, or a value no register has when they do
// not.
int dev_port_status(int port) {
  ferrox::Byte status = 0;
  return pread(port, &status, 1, LptStatus) == 1 ? status : -1;
}

int ppdev_status(int parport) {
  unsigned char status = 0;
  return ioctl(parport, PPRSTATUS, &status) == 0 ? status : -1;
}

}  // namespace

void status_reads(ferrox::TFerrox32& component, const Budget& budget) {
  Component direct = make_component();  // a second component, on the direct path
  direct->OpenDriver();
  direct->fSetHardAccess(false);
  int port = open("/dev/port", O_RDONLY | O_CLOEXEC);
  int parport = open("/dev/parport0", O_RDWR | O_CLOEXEC);
  if (CHECK(port >= 0) && CHECK(parport >= 0) && CHECK(ioctl(parport, PPCLAIM) == 0)) {
    ferrox::Byte status = component.fGetPortB(LptStatus);
    CHECK_EQ(direct->fGetPortB(LptStatus), status);
    CHECK_EQ(dev_port_status(port), status);
    CHECK_EQ(ppdev_status(parport), status);
    time_group("parallel-port status read", budget,
               {{"ferrox driver path", [&] { component.fGetPortB(LptStatus); }},
                {"ferrox direct path", [&] { direct->fGetPortB(LptStatus); }},
                {"/dev/port pread", [&] { dev_port_status(port); }},
                {"ppdev PPRSTATUS", [&] { ppdev_status(parport); }}});
    ioctl(parport, PPRELEASE);
  }
  close(parport);
  close(port);
}

}  // namespace peers
