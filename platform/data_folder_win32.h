// This account's own folder among the machine's shared data, as the Windows build finds and makes
// it (System::GetPrivateDataFolderA).
#ifndef KESTARIO_PLATFORM_DATA_FOLDER_WIN32_H_
#define KESTARIO_PLATFORM_DATA_FOLDER_WIN32_H_

#include "text/text_string.h"

namespace kestario {

// "<ProgramData>\<name>\<SID>": this account's own folder. Made for the account, SYSTEM and the
// Administrators alone (a protected access list), so that no other user can put a file in it;
// one that somebody else made (its owner) is not used.
// `create` makes it (and the steps of `name` before it); false when it is missing, is not a
// folder, is a link, or belongs to an account that this process does not trust.
bool Win32PrivateDataFolder(const char* name, TextString* folder, bool create);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_DATA_FOLDER_WIN32_H_
