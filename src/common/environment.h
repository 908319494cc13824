#pragma once

#include <cstdint>
#include <string>

#include "common/exception.h"
#include "common/variant.h"

namespace vorncom::env {

// Folder paths end with '/'. The base folder is the host executable's folder (the directory of
// /proc/self/exe); VORNCOM_BASE_DIR overrides it.
std::string BaseFolder();
std::string WorkFolder();    // base + "Trabalho/"
std::string ConfigFolder();  // base + "Configuracoes/"

// Installation folders from the registry value "DiretorioInstalacao" of "SOFTWARE\Mirtal"; empty
// strings when that value is missing (the library still loads).
std::string CommonFolder();     // installation + "/Arquivos Comuns/"
std::string LibrariesFolder();  // common + "Bibliotecas/"
std::string ImagesFolder();     // common + "Imagens/"

// Recomputes the library folders (and re-reads VORNCOM_BASE_DIR).
void InitializeFolders();
// Throws the registry exceptions of ReadRegistryValue.
void LocateInstallation();

// Registry value kinds.
enum class RegistryKind : uint8_t { kBoolean = 0, kInteger = 1, kReal = 2, kString = 3, kDate = 4 };

VORNCOM_EXCEPTION(ERegistryKeyNull);
VORNCOM_EXCEPTION(ERegistryValueNull);
VORNCOM_EXCEPTION(ERegistryErrorOpeningKey);
VORNCOM_EXCEPTION(ERegistryKeyNotFound);
VORNCOM_EXCEPTION(ERegistryValueNotFound);
VORNCOM_EXCEPTION(ERegistryErrorReadingValue);

// Reads a local-machine registry value (from the registry layer) into `result`; raises one of the
// six registry exceptions above.
void ReadRegistryValue(const std::string& key, const std::string& value_name, RegistryKind kind,
                       Variant& result);

// Operating-system description cut to `max_length` (at most 255) characters; returns the kind
// code (5, "SO Indefinido", on anything that is not Windows).
uint8_t GetOSDescription(std::string& text, int max_length);
// "2.2" when the platform has sockets, unless the registry layer says otherwise; "" on failure.
std::string GetWinsockVersion();
// The last address the host name resolves to, dotted; "" when it does not resolve.
std::string GetLocalIPAddress();

bool DirectoryExists(const std::string& path);
// Creates the folder and its missing parents; throws vorncom::Exception("Unable to create
// directory") on an empty path; a failure to create the last level is not reported.
void ForceDirectories(const std::string& path);
// Deletes every plain file matching the mask's file-name pattern (* and ?); true when any matched.
bool DeleteFilesByMask(const std::string& mask);
// Size of the file, or -1 when not found; sizes beyond 32 bits are clamped to INT32_MAX.
int32_t GetFileSize(const std::string& name);
// Free bytes of the file system holding `path`; -1 when the path names no usable file system.
int64_t FreeSpace(const std::string& path);

// The mount point of the file system holding `path` (what a drive letter names elsewhere).
std::string MountPointOf(const std::string& path);

// A folder of one operation's own inside `parent`, whose last level is created when missing. It is
// made with mkdtemp, so that any number of processes sharing `parent` never meet in it, and it is
// removed with everything in it when the object goes. Throws vorncom::Exception when it cannot be
// made.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& parent);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Ends with '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// True when VORNCOM_UNATTENDED is set to anything but "" or "0": then no window is shown, messages
// go to standard error and receipts are printed without a preview.
bool UnattendedRequested();

// Parts of a "dd/mm/yyyy hh:nn:ss" text: before the first blank; the 8 characters after it.
std::string DatePart(const std::string& text);
std::string TimePart(const std::string& text);

}  // namespace vorncom::env
