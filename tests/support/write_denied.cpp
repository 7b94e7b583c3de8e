#include "tests/support/write_denied.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Raises or lowers one capability in the calling thread's effective set.
bool SetEffective(int cap, bool bOn) {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &head, data) != 0) return false;
  uint32_t bit = 1u << (cap % 32);
  if (bOn) {
    data[cap / 32].effective |= bit;
  } else {
    data[cap / 32].effective &= ~bit;
  }
  return syscall(SYS_capset, &head, data) == 0;
}

bool HasEffective(int cap) {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &head, data) != 0) return false;
  return (data[cap / 32].effective & (1u << (cap % 32))) != 0;
}

// True when a new file can be created in dir (it is removed again).
bool CanCreateIn(const std::string& dir) {
  std::string probe = dir + "/.write-probe";
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST;
  close(fd);
  unlink(probe.c_str());
  return true;
}

}  // namespace

CWriteDenied::CWriteDenied() {
  // Programs started from here on get no capabilities even as root.
  int bits = prctl(PR_GET_SECUREBITS);
  if (bits >= 0 && !(bits & SECBIT_NOROOT) && prctl(PR_SET_SECUREBITS, bits | SECBIT_NOROOT) == 0) {
    nOldSecureBits_ = bits;
    bNoRootSet_ = true;
  }
  if (HasEffective(CAP_DAC_OVERRIDE)) bCapDropped_ = SetEffective(CAP_DAC_OVERRIDE, false);
}

CWriteDenied::~CWriteDenied() { Restore(); }

bool CWriteDenied::Lock(const std::string& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return false;
  nOldMode_ = st.st_mode & 07777;
  dir_ = dir;
  if (chmod(dir.c_str(), 0555) != 0) return false;
  return !CanCreateIn(dir);
}

void CWriteDenied::Restore() {
  if (bCapDropped_) SetEffective(CAP_DAC_OVERRIDE, true);
  bCapDropped_ = false;
  if (bNoRootSet_) prctl(PR_SET_SECUREBITS, nOldSecureBits_);
  bNoRootSet_ = false;
  if (!dir_.empty()) chmod(dir_.c_str(), nOldMode_);
  dir_.clear();
}
