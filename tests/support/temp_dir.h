#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vorncom::testing {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vorncom-test-XXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  std::string Write(const std::string& name, const std::string& contents) const {
    const std::string p = *this / name;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << contents;
    return p;
  }

 private:
  std::string path_;
};

// Points the registry layer and the library's base folder at a temporary folder.
// Sets (or, given nullptr, removes) an environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    if (old) old_ = old;
    had_ = old != nullptr;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

class IsolatedEnvironment {
 public:
  IsolatedEnvironment() {
    setenv("VORNCOM_REGISTRY", (dir_ / "registry").c_str(), 1);
    setenv("VORNCOM_BASE_DIR", dir_.path().c_str(), 1);
  }
  ~IsolatedEnvironment() {
    unsetenv("VORNCOM_REGISTRY");
    unsetenv("VORNCOM_BASE_DIR");
  }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
};

}  // namespace vorncom::testing
