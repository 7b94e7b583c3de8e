#pragma once
#include <string>
#include <vector>

// What the start found wrong with devset.txt, gps.txt and list.txt, in words
// for the operator (the window shows them, zel-cli prints them). The debug
// channel keeps its own lines; these never go there.
struct FileNotice {
  bool bSetAside = false;  // a damaged file was moved away, or had to be kept in place
  std::string szText;
};

// A file that exists but cannot be used: it is renamed to the first free
// "<path>.bad" name so that nothing the program writes later replaces it.
// consequence says what the start does instead ("the fleet starts empty").
// *pKeptInPlace is set when the rename failed: the caller must then never
// write path. Window's thread.
FileNotice SetDamagedFileAside(const std::string& path, const std::string& why, const std::string& consequence,
                               bool* pKeptInPlace);

// devset.txt fell back to defaults: missing (bMissing) or without the keys in
// defaulted. One notice, or none when nothing was defaulted.
void NoteSettingsDefaults(const std::string& path, bool bMissing, const std::vector<std::string>& defaulted,
                          std::vector<FileNotice>& notices);

// gps.txt gave no point (missing, unreadable with why, or without a complete
// record): the devices send simulated positions.
void NoteGpsFallback(const std::string& path, int nRead, const std::string& why, int nPoints,
                     std::vector<FileNotice>& notices);
