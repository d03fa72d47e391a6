#include "engine/restart_copies.h"

#include <cstring>

#include "engine/rollback.h"
#include "platform/system.h"
#include "settings/run_log.h"
#include "text/byte_buffer.h"
#include "text/text_builder.h"

namespace kestario {
namespace {

// The names of the copies that the run staged for a restart: ".kestario-<id>-<number>.new".
constexpr const char* kStagedPattern = ".kestario-*.new";

// What a rollback run put off: destination, section and staged name, each ended by a NUL byte.
TextBuilder g_putOff;
bool g_putOffLost = false;

void Supersede(const char* section, const char* destination, const char* stagedNow) {
  ByteBuffer sources;
  bool cancelled =
      CurrentSystem().PendingRenamesOntoA(destination, kStagedPattern, stagedNow, true, &sources);
  if (!IsRunLogOn()) return;
  const char* names = reinterpret_cast<const char*>(sources.GetConstData());
  for (uint32_t at = 0; at < sources.GetSize(); at += std::strlen(names + at) + 1) {
    LogLine line;
    line.Add(section).Add(": the copy at restart that waited as ").Quoted(names + at);
    line.Add(cancelled ? " is cancelled, superseded by this one"
                       : " is removed, superseded by this one (its restart rename finds nothing)");
    line.Write();
  }
}

void Append(const char* text) {
  if (!g_putOff.Append(text, std::strlen(text) + 1)) g_putOffLost = true;
}

}  // namespace

void SupersedeRestartCopies(const ProcedureRecord& record, const TextString& destination,
                            const TextString& stagedNow) {
  if (!IsRollbackOn()) {
    Supersede(record.name.GetConstText(), destination.GetConstText(), stagedNow.GetConstText());
    return;
  }
  Append(destination.GetConstText());
  Append(record.name.GetConstText());
  Append(stagedNow.GetConstText());
}

void EndRestartCopies(bool finished) {
  // A list that memory could not hold whole is not carried out at all: a pending copy left in
  // place only waits longer, one cancelled wrongly would be lost.
  if (finished && !g_putOffLost) {
    const char* at = g_putOff.text();
    const char* end = at + g_putOff.length();
    while (at < end) {
      const char* parts[3];  // destination, section, staged name
      for (const char*& part : parts) {
        part = at;
        at += std::strlen(at) + 1;
      }
      Supersede(parts[1], parts[0], parts[2]);
    }
  }
  g_putOff.Clear();
  g_putOffLost = false;
}

}  // namespace kestario
