#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

// Writes the video payloads of live channels to DIR/<stream>-ch<N>.h264. The
// frame files keep start codes in their payloads, so the concatenation is an
// Annex-B stream. A file is emptied when this run first writes to it and
// appended to afterwards. Loop thread only.
class CRecorder {
 public:
  explicit CRecorder(std::string dir) : szDir(std::move(dir)) {}
  ~CRecorder() { CloseAll(); }
  CRecorder(const CRecorder&) = delete;
  CRecorder& operator=(const CRecorder&) = delete;

  bool Enabled() const { return !szDir.empty(); }
  // Creates the directory when it is missing; false with the reason when it
  // is not a usable directory.
  bool PrepareDir(std::string* error) const;
  // Appends n bytes to the stream's channel file. False when the file cannot
  // be opened or written (error then says why, once per file).
  bool Append(const std::string& stream, int32_t channel, const uint8_t* p, size_t n, std::string* error);
  // Closes the stream's files (its media connection ended).
  void CloseStream(const std::string& stream);
  void CloseAll();
  // The path of a channel file; the stream name is reduced to letters,
  // digits, '-', '_' and '.' (no leading dot) so a name from the network
  // cannot leave the directory.
  std::string PathOf(const std::string& stream, int32_t channel) const;

 private:
  using Key = std::pair<std::string, int32_t>;
  std::string szDir;
  std::map<Key, int> files;      // open descriptors
  std::set<Key> started;         // files this run has written to
  std::set<Key> failed;          // files that could not be written
};

// The file-name form of a stream name (see PathOf).
std::string SafeFileName(const std::string& name);
