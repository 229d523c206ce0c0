// The library's exports: a table of decoder handles, each a TVidrexDecoder.

#include "Vidrex.h"

#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "UVidrexDecoder.h"

namespace {

// Hands out positive 32-bit handles for decoders. Only the table is locked: each decoder
// is used by one thread at a time.
class TDecoderTable {
 public:
  int32_t Add(std::unique_ptr<TVidrexDecoder> ADecoder) {
    std::lock_guard<std::mutex> lLock(FLock);
    if (FDecoders.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1)) return 0;
    for (;;) {
      const int32_t lHandle = FNext;
      FNext = FNext == std::numeric_limits<int32_t>::max() ? 1 : FNext + 1;
      if (FDecoders.count(lHandle) == 0) {
        FDecoders.emplace(lHandle, std::move(ADecoder));
        return lHandle;
      }
    }
  }

  TVidrexDecoder* Find(int32_t AHandle) {
    std::lock_guard<std::mutex> lLock(FLock);
    auto it = FDecoders.find(AHandle);
    return it == FDecoders.end() ? nullptr : it->second.get();
  }

  std::unique_ptr<TVidrexDecoder> Remove(int32_t AHandle) {
    std::lock_guard<std::mutex> lLock(FLock);
    auto it = FDecoders.find(AHandle);
    if (it == FDecoders.end()) return nullptr;
    std::unique_ptr<TVidrexDecoder> lDecoder = std::move(it->second);
    FDecoders.erase(it);
    return lDecoder;
  }

 private:
  std::mutex FLock;
  std::unordered_map<int32_t, std::unique_ptr<TVidrexDecoder>> FDecoders;
  int32_t FNext = 1;
};

TDecoderTable& Decoders() {
  static TDecoderTable lTable;
  return lTable;
}

}  // namespace

extern "C" {

VIDREX_API int32_t OMVEX_PLAY_SDK_Init(void) {
  std::unique_ptr<TVidrexDecoder> lDecoder(new (std::nothrow) TVidrexDecoder());
  if (!lDecoder || !lDecoder->Valid()) return 0;
  try {
    return Decoders().Add(std::move(lDecoder));
  } catch (...) {
    return 0;
  }
}

VIDREX_API int32_t OMVEX_PLAY_SDK_Destory(int32_t handle) {
  // The decoder is released outside the table's lock.
  std::unique_ptr<TVidrexDecoder> lDecoder = Decoders().Remove(handle);
  return lDecoder ? 0 : VIDREX_ERR_HANDLE;
}

VIDREX_API int32_t OMVEX_PLAY_SDK_StartVideo(int32_t handle, intptr_t /*window*/,
                                             int32_t /*reserved1*/, int32_t /*reserved2*/,
                                             uint8_t codec) {
  TVidrexDecoder* lDecoder = Decoders().Find(handle);
  return lDecoder ? lDecoder->Start(codec) : VIDREX_ERR_HANDLE;
}

VIDREX_API int32_t OMVEX_PLAY_SDK_StopVideo(int32_t handle) {
  TVidrexDecoder* lDecoder = Decoders().Find(handle);
  if (!lDecoder) return VIDREX_ERR_HANDLE;
  lDecoder->Stop();
  return 0;
}

VIDREX_API int32_t OMVEX_PLAY_SDK_DecodeOneFrame(int32_t handle, const uint8_t* frame,
                                                 int32_t frameSize, uint8_t /*flags*/,
                                                 uint8_t* out, int32_t outCapacity,
                                                 int32_t* width, int32_t* height) {
  TVidrexDecoder* lDecoder = Decoders().Find(handle);
  if (!lDecoder) return VIDREX_ERR_HANDLE;
  return lDecoder->Decode(frame, frameSize, out, outCapacity, width, height);
}

}  // extern "C"
