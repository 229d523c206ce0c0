/* Vidrex: decodes compressed video frames of a recorder's stream (MPEG-4 part 2, H.264,
 * Motion JPEG, H.265) one at a time into YV12 pictures, without displaying them.
 *
 * A decoder handle is a positive 32-bit integer; 0 is no handle. Calling order:
 * OMVEX_PLAY_SDK_Init; then any number of cycles of OMVEX_PLAY_SDK_StartVideo for one
 * codec, OMVEX_PLAY_SDK_DecodeOneFrame per frame, and OMVEX_PLAY_SDK_StopVideo; then
 * OMVEX_PLAY_SDK_Destory. One handle is used by one thread at a time; different handles
 * may be used on different threads. The library prints nothing of its own, and the
 * decoders' messages about damaged frames are lowered below libavcodec's default log
 * level; only a frame that claims an absurd picture size may still leave one line from
 * libavutil's size check.
 */
#ifndef VIDREX_H
#define VIDREX_H

#include <stdint.h>

#if defined(VIDREX_BUILD)
#define VIDREX_API __attribute__((visibility("default")))
#else
#define VIDREX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Codec codes of OMVEX_PLAY_SDK_StartVideo (the record's video encoding types). */
#define VIDREX_CODEC_MPEG4 0
#define VIDREX_CODEC_H264 1
#define VIDREX_CODEC_MJPEG 2
#define VIDREX_CODEC_H265 3

/* Negative results. */
#define VIDREX_ERR_HANDLE (-1)      /* 0, unknown or destroyed handle */
#define VIDREX_ERR_CODEC (-2)       /* codec code not supported */
#define VIDREX_ERR_NOT_STARTED (-3) /* DecodeOneFrame before StartVideo */
#define VIDREX_ERR_ARGUMENT (-4)    /* a null pointer or a negative size */
#define VIDREX_ERR_MEMORY (-5)      /* the decoder could not be set up */

/* A new decoder handle, not started; 0 when memory runs out. */
VIDREX_API int32_t OMVEX_PLAY_SDK_Init(void);

/* Releases the handle, stopping its decoder first. 0, or VIDREX_ERR_HANDLE. */
VIDREX_API int32_t OMVEX_PLAY_SDK_Destory(int32_t handle);

/* Prepares the handle to decode frames of one codec; a decoder already started is stopped
 * first. The window handle and the two integers are accepted and ignored: pictures are
 * never displayed. 0 when started, else a negative result and the handle is not started. */
VIDREX_API int32_t OMVEX_PLAY_SDK_StartVideo(int32_t handle, intptr_t window, int32_t reserved1,
                                             int32_t reserved2, uint8_t codec);

/* Ends decoding of the current codec. Harmless on a handle never started. 0, or
 * VIDREX_ERR_HANDLE. */
VIDREX_API int32_t OMVEX_PLAY_SDK_StopVideo(int32_t handle);

/* Decodes one compressed frame (read during the call only; flags are ignored). When it
 * gives a picture, the picture is written to the start of out in YV12 order (luma, then
 * Cr, then Cb; rows packed, no gaps; chroma planes of width / 2 x height / 2), *width and
 * *height receive its size, and the result is its byte count, width * height * 3 / 2. A
 * picture whose width or height is odd loses its last column or row, so both are even.
 * 0: no picture for this frame (a corrupt frame, a frame the decoder needs more data for,
 * or a picture larger than outCapacity, in which case nothing is written). Negative: a
 * VIDREX_ERR_* code. */
VIDREX_API int32_t OMVEX_PLAY_SDK_DecodeOneFrame(int32_t handle, const uint8_t* frame,
                                                 int32_t frameSize, uint8_t flags, uint8_t* out,
                                                 int32_t outCapacity, int32_t* width,
                                                 int32_t* height);

#ifdef __cplusplus
}
#endif

#endif
