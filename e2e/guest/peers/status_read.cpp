// One read of the parallel port's status register: the library on both paths, /dev/port, and
// ppdev's PPRSTATUS.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "common/check.h"
#include "peers/peers.h"

namespace peers {

namespace {

constexpr const char* Group = "parallel-port status read";

// The status register as /dev/port gives it, or a value no register has when it does not.
int dev_port_status(int port) {
  ferrox::Byte status = 0;
  return pread(port, &status, 1, LptStatus) == 1 ? status : -1;
}

}  // namespace

void status_reads(ferrox::TFerrox32& component, const Budget& budget) {
  ferrox::Byte reference = component.fGetPortB(LptStatus);
  report_time(Group, "ferrox driver path", time_per_call(budget, [&] { component.fGetPortB(LptStatus); }));

  component.fSetHardAccess(false);
  CHECK_EQ(component.fGetPortB(LptStatus), reference);
  report_time(Group, "ferrox direct path", time_per_call(budget, [&] { component.fGetPortB(LptStatus); }));
  component.fSetHardAccess(true);

  int port = open("/dev/port", O_RDONLY | O_CLOEXEC);
  if (!CHECK(port >= 0)) return;
  CHECK_EQ(dev_port_status(port), reference);
  report_time(Group, "/dev/port pread", time_per_call(budget, [&] { dev_port_status(port); }));
  close(port);
}

void ppdev_status_read(const Budget& budget) {
  int parport = open("/dev/parport0", O_RDWR | O_CLOEXEC);
  if (!CHECK(parport >= 0)) return;
  if (CHECK(ioctl(parport, PPCLAIM) == 0)) {
    unsigned char status = 0;
    CHECK(ioctl(parport, PPRSTATUS, &status) == 0);
    int port = open("/dev/port", O_RDONLY | O_CLOEXEC);
    if (CHECK(port >= 0)) CHECK_EQ(status, dev_port_status(port));
    close(port);
    report_time(Group, "ppdev PPRSTATUS", time_per_call(budget, [&] { ioctl(parport, PPRSTATUS, &status); }));
    ioctl(parport, PPRELEASE);
  }
  close(parport);
}

}  // namespace peers
