#pragma once

// TqevCompress: the handlers the package routines hang on a TArchiver. They shape stored names
// on the way in, map stored names to paths inside the target directory on the way out, and pass
// the current file and percentage to a PackageProgress.

#include <string>

#include "archive/archiver.h"
#include "archive/package_routines.h"

namespace vorncom::archive {

class TqevCompress {
 public:
  bool names_only = false;
  PackageProgress* progress = nullptr;  // may be null; must outlive the handler's use
  std::string directory;                // target directory when expanding

  // Compressing: names-only keeps the file-name part, otherwise a drive or UNC prefix is
  // dropped. Expanding: the path becomes one inside `directory` (names-only: directory + file
  // name). A stored name that would leave the directory (a ".." component, or no file name at
  // all) is refused: the path becomes "" and the archiver skips the entry.
  void CheckFile(std::string& filepath, TCProcessMode mode) const;
  void ShowProgress(int& percent) const;

  // Hangs both handlers on `archiver`; this object must outlive its operations.
  void Attach(TArchiver& archiver) const;
};

}  // namespace vorncom::archive
