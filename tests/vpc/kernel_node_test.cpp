// SPDX-License-Identifier: MIT
// The virtual PC's device node: what it serves, what it refuses, and what it leaves alone.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/support/virtual_pc.h"

namespace {

class DeviceNodeTest : public VirtualPcTest {};

TEST_F(DeviceNodeTest, OtherPathsAndDescriptorsPassThrough) {
  char path[] = "/tmp/vpc-node-test-XXXXXX";
  int made = mkstemp(path);
  ASSERT_GE(made, 0);
  close(made);
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "x", 1), 1);
  struct stat status {};
  EXPECT_EQ(fstat(fd, &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(ioctl(fd, TCGETS, nullptr), -1);  // the kernel's own answer: not a terminal
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(close(fd), 0);
  unlink(path);
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_F(DeviceNodeTest, ClosedDescriptorsAnswerEbadf) {
  int fd = open("/dev/ferrox", O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(close(fd), 0);
  errno = 0;
  EXPECT_EQ(ioctl(fd, ferrox::Request::IrqCount, 0), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(DeviceNodeTest, InjectedFaultsFailOnceOrAlways) {
  pc.faults().fail_request(99, EIO, ferrox::vpc::Times::Once);
  int fd = open("/dev/ferrox", O_RDONLY);
  ASSERT_GE(fd, 0);
  unsigned long code = ferrox::MakeRequestCode('h', 99, 0);
  errno = 0;
  EXPECT_EQ(ioctl(fd, code, 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(ioctl(fd, code, 0), -1);
  EXPECT_EQ(errno, ENOTTY);  // the one-shot failure is spent
  close(fd);

  pc.faults().refuse_open(EACCES);
  EXPECT_EQ(open("/dev/ferrox", O_RDONLY), -1);
  EXPECT_EQ(errno, EACCES);
}

TEST_F(DeviceNodeTest, EveryEntryPointReachesTheNode) {
  int a = openat(AT_FDCWD, "/dev/ferrox", O_RDONLY);
  int b = open64("/dev/ferrox", O_RDONLY);
  EXPECT_GE(a, 0);
  EXPECT_GE(b, 0);
  EXPECT_EQ(pc.log().of(ferrox::vpc::Event::Open).size(), 2u);
  EXPECT_EQ(pc.node().open_files(), 2u);
  close(a);
  close(b);
  EXPECT_EQ(pc.node().open_files(), 0u);
}

}  // namespace
