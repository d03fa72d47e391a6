#include "text/message_catalog.h"

namespace kestario {

namespace {

MessageLoader g_message_loader = nullptr;

}  // namespace

void SetMessageLoader(MessageLoader loader) { g_message_loader = loader; }

MessageLoader GetMessageLoader() { return g_message_loader; }

}  // namespace kestario
