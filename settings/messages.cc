#include "settings/messages.h"

#include "platform/system.h"
#include "text/message_catalog.h"

namespace kestario {
namespace {

const TextString* g_errorCaption = nullptr;

int LoadFromSystem(unsigned number, char* buffer, int size) {
  return CurrentSystem().LoadStringA(number, buffer, size);
}

}  // namespace

void InstallMessageCatalog() { SetMessageLoader(&LoadFromSystem); }

void BindErrorCaption(const TextString* caption) { g_errorCaption = caption; }

void ReportError(int number, const char* first, const char* second) {
  TextString message;
  message.LoadMessage(number, first ? first : "", second ? second : "");
  const char* caption = g_errorCaption ? g_errorCaption->GetConstText() : DefaultCaption();
  CurrentSystem().MessageBoxA(message.GetConstText(), caption, kMbOk | kMbIconError);
}

}  // namespace kestario
