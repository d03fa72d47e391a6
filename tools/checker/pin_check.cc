// HASH of COPY and LAUNCH: a comma list of SHA-256 pins paired with FROM or FILE. An item that is
// not 64 hexadecimal digits stops the procedure (message 2), it never counts as no pin; pins past
// the last FROM or FILE item pin nothing.
#include <string>

#include "platform/sha256.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"

namespace kestario {
namespace checker {

void Analyzer::CheckPins() {
  for (const PlanList& list : report_->lists) {
    for (const PlanProcedure& procedure : list.procedures) {
      if (procedure.kind != "COPY" && procedure.kind != "LAUNCH") continue;
      Value hash = Read(procedure.name, "HASH");
      if (!hash.present) continue;
      const char* pairedKey = procedure.kind == "COPY" ? "FROM" : "FILE";
      Value paired = Read(procedure.name, pairedKey);
      int pairedCount = paired.present ? CountItems(paired.expanded) : 0;
      std::vector<std::string> items = Items(hash.expanded);
      int line = KeyLine(procedure.name, "HASH");
      for (size_t i = 0; i < items.size(); ++i) {
        Sha256Digest digest;
        if (items[i].empty() || ParseSha256Hex(items[i].c_str(), items[i].size(), &digest)) {
          continue;
        }
        std::string why = items[i].size() != kSha256HexLength
                              ? std::to_string(items[i].size()) + " characters, not 64"
                              : "a character that is not a hexadecimal digit";
        bool used = static_cast<int>(i) < pairedCount;
        if (used) {
          Error(Rule::kBadPin, line, procedure.name, "HASH",
                "item " + std::to_string(i + 1) + " " + Quoted(items[i]) + " is not a SHA-256 (" +
                    why + "); the " + procedure.kind +
                    " stops there and changes nothing "
                    "(message 2)");
        }
      }
      if (pairedCount > 0 && static_cast<int>(items.size()) > pairedCount) {
        Warning(Rule::kPinCountMismatch, line, procedure.name, "HASH",
                std::to_string(items.size()) + " items but " + pairedKey + " has " +
                    std::to_string(pairedCount) + "; the extra pins pin nothing");
      }
    }
  }
}

}  // namespace checker
}  // namespace kestario
