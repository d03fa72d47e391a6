// The standard descriptors of a process started with some of them closed (`prog 2>&-`).
//
// The system gives every file that a process opens the lowest free descriptor, so a file opened
// while descriptor 2 is closed becomes standard error: whatever is written there as a terminal
// message (a box) would go into that file. OpenClosedStandardFiles, called first thing in main
// before anything else is opened, opens /dev/null on each of 0, 1 and 2 that is closed, and
// tells which they were (bit 1 << descriptor), so that the caller can treat a terminal that was
// closed as one that cannot be written.
#ifndef KESTARIO_PLATFORM_STANDARD_FILES_POSIX_H_
#define KESTARIO_PLATFORM_STANDARD_FILES_POSIX_H_

namespace kestario {

unsigned OpenClosedStandardFiles();

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_STANDARD_FILES_POSIX_H_
