// minizip's file functions over one opened archive file, with a read-ahead window.
#include "archive/zip_stream.h"

#include <cstring>

#include <ioapi.h>

namespace velmora::archive {
namespace {

voidpf ZCALLBACK OpenStream(voidpf, const void* stream, int) {
  // The archive is opened before minizip sees it; the "path" is the stream.
  return const_cast<void*>(stream);
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
  return static_cast<ZipStream*>(stream)->Read(buffer, static_cast<std::uint32_t>(size));
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream) {
  return static_cast<ZipStream*>(stream)->Tell();
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  int ours = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: ours = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: ours = 1; break;
    case ZLIB_FILEFUNC_SEEK_END: ours = 2; break;
    default: return -1;
  }
  return static_cast<ZipStream*>(stream)->Seek(offset, ours) ? 0 : -1;
}

// The reader owns the stream; minizip's close only lets go of it.
int ZCALLBACK CloseStream(voidpf, voidpf) { return 0; }

int ZCALLBACK TestStreamError(voidpf, voidpf stream) {
  return static_cast<ZipStream*>(stream)->HasError() ? 1 : 0;
}

}  // namespace

bool ZipStream::Open(const std::u16string& path) {
  if (!file_.Open(path)) return false;
  std::uint64_t current = 0;
  canSeek_ = file_.Seek(0, platform::SeekOrigin::kCurrent, &current);
  start_ = canSeek_ ? current : 0;
  position_ = 0;
  for (Window& window : windows_) {
    window.bytes.reset(new unsigned char[kWindowSize]);
    window.length = 0;
  }
  return true;
}

ZipStream::Window* ZipStream::Find() {
  for (Window& window : windows_) {
    if (window.length != 0 && position_ >= window.start &&
        position_ < window.start + window.length) {
      window.lastUse = ++uses_;
      return &window;
    }
  }
  return nullptr;
}

ZipStream::Window* ZipStream::Fill() {
  Window* window = &windows_[0];
  for (Window& candidate : windows_) {
    if (candidate.lastUse < window->lastUse) window = &candidate;
  }
  window->length = 0;
  window->lastUse = ++uses_;
  if (!file_.Seek(static_cast<std::int64_t>(start_ + position_), platform::SeekOrigin::kBegin,
                  nullptr)) {
    return nullptr;
  }
  std::uint32_t got = 0;
  if (!file_.Read(window->bytes.get(), kWindowSize, &got)) return nullptr;
  window->start = position_;
  window->length = got;
  return window;
}

std::uint32_t ZipStream::Read(void* buffer, std::uint32_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint32_t done = 0;
  while (done < size) {
    const std::uint32_t rest = size - done;
    Window* window = Find();
    if (window == nullptr && rest >= kWindowSize) {
      // Large reads bypass the windows.
      std::uint32_t got = 0;
      if (!file_.Seek(static_cast<std::int64_t>(start_ + position_), platform::SeekOrigin::kBegin,
                      nullptr) ||
          !file_.Read(out + done, rest, &got)) {
        error_ = true;
        break;
      }
      done += got;
      position_ += got;
      break;
    }
    if (window == nullptr) {
      window = Fill();
      if (window == nullptr) {
        error_ = true;
        break;
      }
      if (window->length == 0) break;  // end of the file
    }
    const auto available = static_cast<std::uint32_t>(window->start + window->length - position_);
    const std::uint32_t take = available < rest ? available : rest;
    std::memcpy(out + done, window->bytes.get() + (position_ - window->start), take);
    done += take;
    position_ += take;
  }
  return done;
}

bool ZipStream::Seek(std::uint64_t offset, int origin) {
  if (!canSeek_) return false;
  std::uint64_t base = 0;
  if (origin == 1) {
    base = position_;
  } else if (origin == 2) {
    std::uint64_t end = 0;
    if (!file_.Seek(0, platform::SeekOrigin::kEnd, &end)) return false;
    base = end >= start_ ? end - start_ : 0;
  }
  position_ = base + offset;
  return true;
}

void ZipStream::FillFileFunctions(zlib_filefunc64_def_s* functions) {
  functions->zopen64_file = OpenStream;
  functions->zread_file = ReadStream;
  functions->zwrite_file = WriteStream;
  functions->ztell64_file = TellStream;
  functions->zseek64_file = SeekStream;
  functions->zclose_file = CloseStream;
  functions->zerror_file = TestStreamError;
  functions->opaque = nullptr;
}

}  // namespace velmora::archive
