// Who could change a file of the Linux build's own configuration.
#ifndef KESTARIO_PLATFORM_PATH_OWNERS_POSIX_H_
#define KESTARIO_PLATFORM_PATH_OWNERS_POSIX_H_

namespace kestario {

// Whether a user other than root and the effective user could change what `path` (an absolute
// path) names, or put something else in its place: true when the file, or one of the folders on
// the way to it, belongs to another user or lets its group or others write; a folder with the
// sticky bit that belongs to root (such as /tmp) is the exception, since it lets nobody remove or
// rename what another user owns. Every symbolic link on the way is followed and the path it leads
// to is checked as well (a link cannot be changed, but the folder it lives in is checked). A file
// that is missing is judged by the folders that exist: someone who could write the nearest one
// could have removed it. True also when the path is not absolute, or cannot be looked at.
bool OthersCanChangePath(const char* path);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PATH_OWNERS_POSIX_H_
