#include "platform/standard_files_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestario {

unsigned OpenClosedStandardFiles() {
  unsigned closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed |= 1u << fd;
    // The lowest free descriptor is this one, as the lower ones are open by now. Without
    // O_CLOEXEC: the programs the run starts inherit it as their own standard descriptor.
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != -1 && opened != fd) close(opened);
  }
  return closed;
}

}  // namespace kestario
