#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "zelvane/platform/files.h"

namespace zelvane {

// The product files of one update, each staged beside its destination, put in place together:
// once Commit has begun, a failure, a kill or a power cut leaves either every one of them in place
// or, once MendInterruptedUpdate has run, none. A record of the commit in the install folder tells
// the next run which.
class UpdateCommit {
  public:
    explicit UpdateCommit(Folder& folder) : folder_(folder) {}

    // A finished staged file for the product file destName; a later one for the same name takes
    // the place of the earlier.
    void Add(const std::string& destName, std::unique_ptr<StagedFile> staged);

    // Puts every file in place, keeping each old product file until all are. On a failure, puts
    // back every old product file and throws; when even that fails, the next run puts them back.
    void Commit();

  private:
    Folder& folder_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<StagedFile>> staged_;
    std::unordered_map<std::string, std::size_t> indexes_;
};

// Thrown when a failed commit could not put the old product files back.
class RollBackFailed : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Finishes what an update that was killed or lost its power while it put its files in place left:
// the old product files back where the commit had not ended, the backups gone where it had.
// Nothing, and false, when there is no record of such an update. folderPath is the install
// folder's path, with a separator at its end.
bool MendInterruptedUpdate(FileSystem& files, Folder& folder, const std::string& folderPath);

}  // namespace zelvane
