#pragma once
#include <string>

// Takes away the calling thread's right to create files in a directory, also
// when the test runs as root (which ignores permission bits through
// CAP_DAC_OVERRIDE): the directory gets mode 0555, the thread drops
// CAP_DAC_OVERRIDE from its effective set, and programs it starts while the
// object lives run without any capability (SECBIT_NOROOT), so a child process
// meets the same refusal. Capabilities are per thread on Linux: other threads
// of the test keep theirs. Everything is restored on destruction.
//
// Holds() says whether it worked (a probe file could not be created);
// a test that depends on it skips otherwise. One thread: the creating one.
class CWriteDenied {
 public:
  // Drops the rights; the directory keeps its mode until Lock.
  CWriteDenied();
  ~CWriteDenied();
  CWriteDenied(const CWriteDenied&) = delete;
  CWriteDenied& operator=(const CWriteDenied&) = delete;

  // Makes dir read-only (0555) and probes it. True when creating a file in
  // dir now fails for this thread.
  bool Lock(const std::string& dir);
  // Gives dir its former mode back and the thread its rights (also done by the
  // destructor). Harmless twice.
  void Restore();

 private:
  std::string dir_;
  bool bCapDropped_ = false;
  bool bNoRootSet_ = false;
  int nOldSecureBits_ = 0;
  unsigned nOldMode_ = 0755;
};
