#pragma once
#include <cstdint>
#include <memory>

#include "media/frame_file.h"
#include "media/frame_parser.h"

// Result of CFrameReader::Next besides CHUNK_OK, CHUNK_SKIP and CHUNK_MORE:
// the file was started again from its beginning although no chunk was yielded
// since the previous start (an empty file, a file without one complete valid
// chunk, or a file truncated under the reader). The caller pauses (100-200 ms)
// before the next call, so such a file cannot keep a core busy.
constexpr int32_t CHUNK_IDLE = 3;

constexpr int32_t FRAME_WINDOW_LEN = 2000000;  // bytes of the file looked at at once
constexpr int32_t FRAME_MIN_AVAIL = 24;        // below this a fresh window is read

// Walks a frame file chunk by chunk in windows of FRAME_WINDOW_LEN bytes,
// resynchronising byte by byte after damage and starting again at the
// beginning when the file ends. A chunk cut off by the end of the file is never
// yielded. The file's bytes come from LoadFrameFile: read once and shared by
// every reader of the same unchanged file, so a reader plays the file as it
// was when it was opened, whatever other programs do to it meanwhile; the
// windows are views into those bytes, nothing is copied.
//
// Driving it (the live sender):
//   if (!reader.Open(path)) -> "dev - open file failed." (the reader writes nothing)
//   loop: r = reader.Next(&info, &restarted);
//         restarted       -> drop the pacing base
//         r == CHUNK_OK   -> the chunk is Chunk() .. Chunk() + info.nTotalLen
//                            (in the window, valid until the next call);
//                            reader.Consume(info) once it is sent. Not
//                            consuming offers the same chunk again.
//         r == CHUNK_IDLE -> sleep 100-200 ms, then call again
//         otherwise       -> nothing yielded, call again at once
//
// Files are handled up to offset INT32_MAX (the file offset is a signed 32-bit
// value): bytes beyond it are treated as the end of the file.
//
// Thread contract: one owner thread (the sender that owns the reader); not safe
// for concurrent use. Separate readers of the same file are independent (they
// only share its read-only bytes).
class CFrameReader {
 public:
  // nOffsetLimit: the reader treats the file as ending there (tests lower it).
  explicit CFrameReader(int32_t nOffsetLimit = INT32_MAX);
  ~CFrameReader();
  CFrameReader(const CFrameReader&) = delete;
  CFrameReader& operator=(const CFrameReader&) = delete;

  // Takes the bytes of the file at path (LoadFrameFile); resets the position,
  // the available count, the file offset and the end-of-file flag. False when
  // the file cannot be opened, is not a regular file, or its bytes cannot be
  // held (then nothing is held). Writes no debug line. An open reader is
  // closed first.
  bool Open(const char* path);

  // Lets go of the file's bytes. Harmless when not open.
  void Close();
  bool IsOpen() const { return pFile != nullptr; }

  // One step of the walk; info must not be null. *restarted (may be null) is
  // set when this call started the file again from offset 0 ("dev - seek to
  // file begin." is written then); a call can restart and yield a chunk. Returns
  //   CHUNK_OK:   the chunk at the position, described in *info; it stays
  //               there until Consume;
  //   CHUNK_SKIP: no chunk here, moved on by one byte;
  //   CHUNK_MORE: the chunk here is incomplete in the window; the next call
  //               reads a fresh window starting at it (or restarts the file
  //               when the window already held the end of the file);
  //   CHUNK_IDLE: restarted without a chunk yielded since the previous
  //               restart (or since Open); pause before calling again. Also
  //               the answer of a reader that is not open.
  int32_t Next(FrameInfo* info, bool* restarted);

  // Moves past the chunk last yielded: position and file offset advance by
  // info.nTotalLen and the available count drops by it. A length that is not
  // positive or exceeds the available count is ignored.
  void Consume(const FrameInfo& info);

  // First byte of the chunk last yielded (the whole chunk, header included,
  // is nTotalLen bytes from here). It lies in the file's shared bytes, which
  // stay valid while the reader (or a copy of File()) holds them.
  const uint8_t* Chunk() const { return pWindow + nPos; }
  const std::shared_ptr<const FrameFileBytes>& File() const { return pFile; }

  // File offset of the current position (the chunk Next would look at).
  int32_t FileOffset() const { return nFileOffset; }
  // Bytes of the window available from the current position.
  int32_t Available() const { return nAvail; }

 private:
  void ReadWindow();

  const int32_t nOffsetLimit;
  std::shared_ptr<const FrameFileBytes> pFile;
  const uint8_t* pWindow = nullptr;  // the window's first byte in pFile
  int32_t nPos = 0;         // position in the window
  int32_t nAvail = 0;       // bytes available from nPos
  int32_t nFileOffset = 0;  // file offset of nPos
  bool bEof = false;        // the window holds the end of the file
  bool bYielded = false;    // a chunk was yielded since the last (re)start
};
