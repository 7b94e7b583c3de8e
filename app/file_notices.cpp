#include "app/file_notices.h"

#include "app/file_io.h"
#include "app/settings_file.h"

FileNotice SetDamagedFileAside(const std::string& path, const std::string& why, const std::string& consequence,
                               bool* pKeptInPlace) {
  FileNotice notice;
  notice.bSetAside = true;
  std::string newPath;
  std::string failure;
  *pKeptInPlace = !SetFileAside(path, &newPath, &failure);
  if (*pKeptInPlace) {
    notice.szText = path + " " + why + " and could not be set aside (" + failure +
                    "); it is kept and will not be replaced; " + consequence;
  } else {
    notice.szText = path + " " + why + "; it was set aside as " + newPath + "; " + consequence;
  }
  return notice;
}

void NoteSettingsDefaults(const std::string& path, bool bMissing, const std::vector<std::string>& defaulted,
                          std::vector<FileNotice>& notices) {
  if (defaulted.empty()) return;
  std::string values;
  for (const std::string& key : defaulted) {
    const char* value = key == SETTINGS_KEY_REG ? SETTINGS_DEFAULT_REG : SETTINGS_DEFAULT_VF;
    values += (values.empty() ? "" : ", ") + key + " \"" + value + "\"";
  }
  std::string what = bMissing ? " not found" : " has no text for " + (defaulted.size() == 2 ? std::string("REG and VF") : defaulted[0]);
  notices.push_back({false, path + what + ": using the default " + values});
}

void NoteGpsFallback(const std::string& path, int nRead, const std::string& why, int nPoints,
                     std::vector<FileNotice>& notices) {
  if (nPoints > 0) return;
  std::string what = " holds no complete point";
  if (nRead == FILE_READ_MISSING) what = " not found";
  if (nRead == FILE_READ_UNREADABLE) what = " cannot be read (" + why + ")";
  notices.push_back({false, path + what + ": GPS uploads use simulated positions"});
}
