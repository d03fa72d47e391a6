// The names under which a change keeps what it would lose, beside the file it changes, and the
// folder of the run's journals. The engine makes every such name in full and hands it to the
// system (MoveFileAsideA, CopyFileOverA), which reports back which one it used (KeptAs).
//
// A change's names share one stem, "<the file's folder>.kestario-<run id>-<number>" (hidden by
// its dot), followed by one suffix per role.
#ifndef KESTARIO_ENGINE_KEPT_NAMES_H_
#define KESTARIO_ENGINE_KEPT_NAMES_H_

#include <cstdint>

#include "platform/system.h"
#include "text/text_string.h"

namespace kestario {

constexpr const char* kKeptSuffix = ".old";         // the old file, given the hidden attribute
constexpr const char* kKeptHiddenSuffix = ".oldh";  // the old file, hidden already
constexpr const char* kMarkSuffix = ".made";        // a second name of a new file
constexpr const char* kStagedSuffix = ".new";       // the new file before it is in place

// The folder of this account's journals, below the machine's shared data folder
// (GetPrivateDataFolderA): "Kestario\Rollback" on Windows, "kestario-rollback" on Linux.
extern const char* const kJournalFolderName;

// ".kestario-<run id>-": how every name that run `runId` keeps beside a file begins.
TextString KeptRunPrefix(const TextString& runId);
// ".kestario-<run id>-<number>": the last step of the stem of change `number`'s names.
TextString KeptStemName(const TextString& runId, uint32_t number);
// "<folder of path>.kestario-<run id>-<number>": the stem of the names beside the file `path`.
TextString KeptStem(const char* path, const TextString& runId, uint32_t number);
// `stem` followed by `suffix`.
TextString WithSuffix(const TextString& stem, const char* suffix);

// The four names of one stem, for one call of MoveFileAsideA or CopyFileOverA.
class KeptNameSet {
 public:
  explicit KeptNameSet(const TextString& stem);
  KeptNameSet(const KeptNameSet&) = delete;
  KeptNameSet& operator=(const KeptNameSet&) = delete;

  // False when memory ran out while the names were made.
  bool IsComplete() const { return complete_; }
  const KeptFileNames& names() const { return names_; }
  // The name that `as` stands for; empty for KeptAs::kNone.
  const TextString& Name(KeptAs as) const;

 private:
  TextString kept_;
  TextString keptHidden_;
  TextString mark_;
  TextString staged_;
  TextString none_;
  KeptFileNames names_;
  bool complete_;
};

}  // namespace kestario

#endif  // KESTARIO_ENGINE_KEPT_NAMES_H_
