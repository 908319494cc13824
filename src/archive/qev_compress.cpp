#include "archive/qev_compress.h"

#include <sstream>
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

// The components of a stored path, or nothing when one of them climbs out.
bool SafeRelativePath(const std::string& path, std::string& relative) {
  relative.clear();
  std::string part;
  std::istringstream in(ToDiskSeparators(path));
  while (std::getline(in, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  return !relative.empty();
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
    std::string relative;
    const std::string source = names_only ? FileNamePart(filepath) : DropDrivePart(filepath);
    if (!SafeRelativePath(source, relative) || (names_only && relative != source)) {
      filepath.clear();
      return;
    }
    filepath = DirectoryPrefix(directory) + relative;
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
