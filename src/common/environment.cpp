#include "common/environment.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fnmatch.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "common/messages.h"
#include "common/registry.h"

namespace vorncom::env {
namespace {

struct Folders {
  std::string base, work, config;
  std::string common, libraries, images;
};

Folders& State() {
  static Folders folders;
  return folders;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string ExecutableFolder() {
  if (const char* base = std::getenv("VORNCOM_BASE_DIR"); base && *base) return WithSlash(base);
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return WithSlash(std::filesystem::current_path(ec).string());
  return WithSlash(exe.parent_path().string());
}

}  // namespace

std::string BaseFolder() { return State().base; }
std::string WorkFolder() { return State().work; }
std::string ConfigFolder() { return State().config; }
std::string CommonFolder() { return State().common; }
std::string LibrariesFolder() { return State().libraries; }
std::string ImagesFolder() { return State().images; }

void InitializeFolders() {
  Folders& f = State();
  f.base = ExecutableFolder();
  f.work = f.base + "Trabalho/";
  f.config = f.base + "Configuracoes/";
}

void LocateInstallation() {
  Variant value;
  ReadRegistryValue("SOFTWARE\\Mirtal", "DiretorioInstalacao", RegistryKind::kString, value);
  std::string folder = value.ToString();
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  Folders& f = State();
  f.common = folder + "/Arquivos Comuns/";
  f.libraries = f.common + "Bibliotecas/";
  f.images = f.common + "Imagens/";
}

void ReadRegistryValue(const std::string& key, const std::string& value_name, RegistryKind kind,
                       Variant& result) {
  result = Variant(false);
  const std::string k = CleanRegistryName(key, /*is_key=*/true);
  const std::string v = CleanRegistryName(value_name, /*is_key=*/false);
  if (k.empty()) {
    throw ERegistryKeyNull(std::string(msg::kRegistryKeyBlank));
  }
  if (v.empty()) {
    throw ERegistryValueNull(std::string(msg::kRegistryValueBlank));
  }
  const Registry registry = Registry::Default();
  switch (registry.OpenKey(k)) {
    case Registry::OpenResult::kDenied:
      throw ERegistryErrorOpeningKey(msg::Format(msg::kRegistryOpenFailed, {k, v}));
    case Registry::OpenResult::kMissing:
      throw ERegistryKeyNotFound(msg::Format(msg::kRegistryKeyMissing, {k}));
    case Registry::OpenResult::kOpened:
      break;
  }
  const auto stored = registry.ReadValue(k, v);
  if (!stored) {
    throw ERegistryValueNotFound(msg::Format(msg::kRegistryValueMissing, {k, v}));
  }
  const auto reading_error = [&] {
    return ERegistryErrorReadingValue(msg::Format(msg::kRegistryReadFailed, {k, v}));
  };
  const auto* text = std::get_if<std::string>(&*stored);
  const auto* number = std::get_if<int32_t>(&*stored);
  const auto* binary = std::get_if<Registry::Binary>(&*stored);
  switch (kind) {
    case RegistryKind::kBoolean:
      if (!number) throw reading_error();
      result = Variant(*number != 0);
      return;
    case RegistryKind::kInteger:
      if (!number) throw reading_error();
      result = Variant(*number);
      return;
    case RegistryKind::kString:
      if (!text) throw reading_error();
      result = Variant(*text);
      return;
    case RegistryKind::kReal:
    case RegistryKind::kDate: {
      if (!binary || binary->size() != sizeof(double)) throw reading_error();
      double d = 0;
      std::memcpy(&d, binary->data(), sizeof d);
      result = kind == RegistryKind::kReal ? Variant(d) : Variant(OleDate{d});
      return;
    }
  }
  throw reading_error();
}

uint8_t GetOSDescription(std::string& text, int max_length) {
  // Only the Windows families have codes of their own; everything else is "undefined".
  const int limit = std::clamp(max_length, 0, 255);
  text = std::string(msg::kUnknownOperatingSystem.substr(0, static_cast<size_t>(limit)));
  return 5;
}

std::string GetWinsockVersion() {
  const Registry registry = Registry::Default();
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Winsock2\\Parameters";
  switch (registry.OpenKey(key)) {
    case Registry::OpenResult::kDenied:
      return {};
    case Registry::OpenResult::kOpened: {
      const auto value = registry.ReadValue(key, "Winsock_Registry_Version");
      if (!value) return {};
      if (const auto* s = std::get_if<std::string>(&*value)) return *s;
      return {};
    }
    case Registry::OpenResult::kMissing:
      break;
  }
  // No entry in the layer: answer for the platform's own sockets.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  close(fd);
  return "2.2";
}

std::string GetLocalIPAddress() {
  char host[65] = {};
  if (gethostname(host, 64) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &list) != 0 || !list) return {};
  std::string last;
  for (addrinfo* a = list; a; a = a->ai_next) {
    char buf[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf)) last = buf;
  }
  freeaddrinfo(list);
  return last;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ForceDirectories(const std::string& path) {
  if (path.empty()) throw Exception("Unable to create directory");
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // The root stands where a bare drive did: it always exists.
  if (dir == "/" || DirectoryExists(dir)) return;
  const std::string parent = std::filesystem::path(dir).parent_path().string();
  if (!parent.empty() && parent != dir) ForceDirectories(parent);
  mkdir(dir.c_str(), 0777);
}

bool DeleteFilesByMask(const std::string& mask) {
  const std::filesystem::path p(mask);
  const std::string folder = p.has_parent_path() ? p.parent_path().string() : ".";
  const std::string pattern = p.filename().string();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
    found = true;
    const std::string full = folder + "/" + name;
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    unlink(full.c_str());  // on Linux a read-only file in a writable folder can be removed
  }
  closedir(dir);
  return found;
}

int32_t GetFileSize(const std::string& name) {
  struct stat st {};
  if (name.empty() || stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return st.st_size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(st.st_size);
}

int64_t FreeSpace(const std::string& path) {
  struct statvfs vfs {};
  // The file system holding the file; for a name that does not exist, its folder's.
  std::string probe = path;
  if (statvfs(probe.c_str(), &vfs) != 0) {
    probe = std::filesystem::path(path).parent_path().string();
    if (probe.empty() || statvfs(probe.c_str(), &vfs) != 0) return -1;
  }
  if (vfs.f_flag & ST_RDONLY) return 0;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

std::string MountPointOf(const std::string& path) {
  std::error_code ec;
  std::filesystem::path current = std::filesystem::absolute(path, ec);
  if (ec) return path;
  struct stat st {};
  while (stat(current.c_str(), &st) != 0 && current.has_parent_path() &&
         current != current.parent_path()) {
    current = current.parent_path();
  }
  const dev_t device = st.st_dev;
  while (current.has_parent_path() && current != current.parent_path()) {
    struct stat parent {};
    if (stat(current.parent_path().c_str(), &parent) != 0 || parent.st_dev != device) break;
    current = current.parent_path();
  }
  return current.string();
}

PrivateFolder::PrivateFolder(const std::string& parent) {
  const std::string folder = WithSlash(parent);
  std::error_code ec;
  std::filesystem::create_directory(folder, ec);
  // A short fixed stem: the folder's name must not depend on what the operation works on.
  std::string templ = folder + "op-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) {
    throw Exception("Cannot create a work folder in " + folder + ": " + std::strerror(errno));
  }
  path_ = templ + "/";
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool UnattendedRequested() {
  const char* v = std::getenv("VORNCOM_UNATTENDED");
  return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

std::string DatePart(const std::string& text) {
  const size_t blank = text.find(' ');
  return blank == std::string::npos ? std::string() : text.substr(0, blank);
}

std::string TimePart(const std::string& text) {
  const size_t blank = text.find(' ');
  return blank == std::string::npos ? text.substr(0, 8) : text.substr(blank + 1, 8);
}

}  // namespace vorncom::env
