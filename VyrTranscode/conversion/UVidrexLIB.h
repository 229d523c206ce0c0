// The binding of the video decoding library (libVidrex.so): its five exports, linked by
// name. Codec codes are the record's video encoding types, passed through unchanged.
#pragma once

#include <cstdint>

extern "C" {
int32_t OMVEX_PLAY_SDK_Init(void);
int32_t OMVEX_PLAY_SDK_Destory(int32_t handle);
int32_t OMVEX_PLAY_SDK_StartVideo(int32_t handle, intptr_t window, int32_t reserved1,
                                  int32_t reserved2, uint8_t codec);
int32_t OMVEX_PLAY_SDK_StopVideo(int32_t handle);
int32_t OMVEX_PLAY_SDK_DecodeOneFrame(int32_t handle, const uint8_t* frame, int32_t frameSize,
                                      uint8_t flags, uint8_t* out, int32_t outCapacity,
                                      int32_t* width, int32_t* height);
}
