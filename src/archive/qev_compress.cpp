#include "archive/qev_compress.h"

#include <vector>

#include "archive/stored_names.h"

namespace vorncom::archive {
namespace {

std::string DropDrivePart(const std::string& name) {
  if (name.size() >= 2 && name[1] == ':') return name.substr(2);
  const bool unc = name.size() > 2 && (name[0] == '\\' || name[0] == '/') && name[1] == name[0];
  if (unc) {
    // \\server\share\rest -> \rest
    const auto server_end = name.find_first_of("\\/", 2);
    if (server_end == std::string::npos) return std::string();
    const auto share_end = name.find_first_of("\\/", server_end + 1);
    return share_end == std::string::npos ? std::string() : name.substr(share_end);
  }
  return name;
}

std::string DirectoryPrefix(std::string directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory.empty() ? std::string() : directory + "/";
}

}  // namespace

void TqevCompress::CheckFile(std::string& filepath, TCProcessMode mode) const {
  if (mode == TCProcessMode::pmCompress) {
    filepath = names_only ? FileNamePart(filepath) : DropDrivePart(filepath);
  } else {
    const std::string source = names_only ? FileNamePart(filepath) : DropDrivePart(filepath);
    const auto relative = PathInsideFolder(source);
    if (!relative || relative->empty() || (names_only && *relative != source)) {
      filepath.clear();
      return;
    }
    filepath = DirectoryPrefix(directory) + *relative;
  }
  if (progress) progress->ShowFile(FileNamePart(filepath));
}

void TqevCompress::ShowProgress(int& percent) const {
  if (progress) progress->ShowPercent(percent);
}

void TqevCompress::Attach(TArchiver& archiver) const {
  archiver.OnCheckFile = [this](std::string& path, TCProcessMode mode) { CheckFile(path, mode); };
  archiver.OnShowProgress = [this](int& percent) { ShowProgress(percent); };
}

}  // namespace vorncom::archive
