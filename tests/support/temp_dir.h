#pragma once
#include <string>

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes away.
class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + '/' + name.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes bytes to Path()/name (replacing it); false on failure.
  bool Write(const std::string& name, const std::string& bytes) const;
  // The bytes of Path()/name; empty when it cannot be read.
  std::string Read(const std::string& name) const;
  // True when Path()/name exists.
  bool Exists(const std::string& name) const;
  // Names of the entries in Path(), sorted.
  std::string Listing() const;

 private:
  std::string path_;
};
