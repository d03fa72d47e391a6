// updater-check --pin: the script with every COPY and LAUNCH section's HASH filled in from the
// files as they are now, so that nobody types a SHA-256 by hand.
#ifndef KESTARIO_TOOLS_CHECKER_PIN_SCRIPT_H_
#define KESTARIO_TOOLS_CHECKER_PIN_SCRIPT_H_

#include <string>
#include <vector>

#include "tools/checker/checker.h"

namespace kestario {
namespace checker {

// The script's bytes with a HASH line in every COPY and LAUNCH section that a list of `report`
// reaches: one pin per FROM (COPY) or FILE (LAUNCH) item, hashed from the file that the expanded
// item names now. An existing HASH line is replaced where it stands; a new one follows the
// section's last entry, with that line's line end. An item whose file cannot be read stays empty
// and adds a line to `warnings`. Every other byte of the script stays as it was.
std::string PinScript(const std::string& bytes, const Report& report,
                      std::vector<std::string>* warnings);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_PIN_SCRIPT_H_
