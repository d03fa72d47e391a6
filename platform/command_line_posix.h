// Splitting a command line into a program and its arguments, with no shell involved.
//
// - Blanks (spaces and tabs) before the program are skipped.
// - A program starting with a double quote runs to the next double quote (or to the end of the
//   line when there is none); the quotes are not part of it.
// - Otherwise the program is the first word, up to a blank. Nothing is searched for: the caller
//   decides the program and quotes it when it holds a blank (LaunchProgram, process.h).
// - The rest is split into arguments by POSIX shell quoting: blanks (space, tab, line feed)
//   separate arguments; inside single quotes every byte is literal; inside double quotes a
//   backslash escapes only $ ` " \ and line feed; elsewhere a backslash escapes the next byte
//   (backslash and line feed vanish together). Nothing is expanded: no globs, variables or "~".
//   An unclosed quote runs to the end of the line; a final lone backslash stays a backslash.
#ifndef KESTARIO_PLATFORM_COMMAND_LINE_POSIX_H_
#define KESTARIO_PLATFORM_COMMAND_LINE_POSIX_H_

namespace kestario {

// Splits `commandLine` into a null-terminated, malloc'd array of malloc'd texts: element 0 is the
// program, then the arguments. False when the line holds no program or memory runs out. Takes
// time in proportion to the line's length.
bool SplitCommandLine(const char* commandLine, char*** argv);

// Frees an array from SplitCommandLine (null is fine).
void FreeArgumentVector(char** argv);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_COMMAND_LINE_POSIX_H_
