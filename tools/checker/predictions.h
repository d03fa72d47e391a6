// The predictions of a what-if (updater-check --what-if): what a DELETE, COPY or LAUNCH step
// would meet, asked of the platform's own checks of each call (platform/call_refusals.h) over the
// predicted file system, and worded for the report. Each answers with the reason the platform
// would refuse, or an empty text when it would not.
#ifndef KESTARIO_TOOLS_CHECKER_PREDICTIONS_H_
#define KESTARIO_TOOLS_CHECKER_PREDICTIONS_H_

#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/checker/predicted_files.h"

namespace kestario {
namespace checker {

// Why the platform would not open `path` (which the run takes to exist, or not) for writing;
// empty when it would.
std::string WriteProblem(const std::string& path, bool exists);

// Whether two names are one file: two spellings of one name, or one file by its identity.
bool SameFile(const std::string& left, const std::string& right);

class StepPredictions {
 public:
  // `real` answers the platform's questions; `files` is what the run has changed so far.
  StepPredictions(System* real, const PredictedFiles* files) : real_(real), files_(files) {}

  // Where a copy would put its data, as the platform would find it.
  struct Destination {
    std::string path;  // the file that is written: a symbolic link's target on Linux
    const PredictedFiles::Entry* entry = nullptr;  // its entry in the predicted files
    bool exists = false;
    bool same = false;     // the source itself: nothing is copied
    bool inPlace = false;  // written in place, since its folder refuses new files
  };

  // DeleteFileA of a real file, and of `entry`, a file that the run copied earlier.
  std::string DeleteProblem(const std::string& path);
  std::string DeleteOfCopyProblem(const std::string& path, const PredictedFiles::Entry& entry);
  // CopyFileA: its source as it is on the disk, and its destination.
  std::string SourceProblem(const std::string& path);
  std::string DestinationProblem(const std::string& target, const std::string& source,
                                 bool failIfExists, Destination* destination);
  // The program and its parameters that CreateProcessA takes from a command line, files made by
  // the run included.
  bool FindProgram(const std::string& line, std::string* program,
                   std::vector<std::string>* arguments);
  // `words`: the program and its parameters as the system would pass them; `line` the command
  // line. `unsure` gets what cannot be known without starting it.
  std::string ProgramProblem(const std::string& program, const std::string& line,
                             const std::vector<std::string>& words, std::string* unsure);

 private:
  std::string ReplaceProblem(const Destination& destination);
  std::string PlaceProblem(Destination* destination);
  bool Granted(const std::string& path, uint32_t access) {
    return real_->AccessCheckA(path.c_str(), access);
  }
  uint32_t RealAttributes(const std::string& path) {
    return real_->GetFileAttributesA(path.c_str());
  }

  System* real_;
  const PredictedFiles* files_;
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_PREDICTIONS_H_
