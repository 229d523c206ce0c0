/* QorraEncoder: encodes raw planar 4:2:0 pictures to an H.264 byte stream with one fixed
 * x264 set-up (preset "veryfast", tuning "zerolatency", profile "baseline", constant
 * quality 24, one thread, one slice, Annex B start codes, parameter sets before every key
 * picture).
 *
 * An encoder handle is the address of an encoder context, kept by the caller as a
 * pointer-sized integer; 0 is no handle. Calling order: QorraInit once; then any number of
 * cycles of QorraOpen, QorraEncode with pictures (and optionally without, to drain), and
 * QorraClose; then QorraDestroy. One handle is used by one thread at a time; different
 * handles may be used on different threads. The library keeps no global state, never logs
 * and never raises an error: results are its only report.
 */
#ifndef QORRA_ENCODER_H
#define QORRA_ENCODER_H

#include <stdint.h>

#if defined(QORRA_ENCODER_BUILD)
#define QORRA_API __attribute__((visibility("default")))
#else
#define QORRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Colour-space codes of QorraOpen. These are the library's own numbers; x264's values for
 * the same layouts differ, and the library translates at its boundary.
 *   I420: luma, then Cb, then Cr, each plane with rows packed.
 *   YV12: luma, then Cr, then Cb.
 *   NV12: luma, then one plane of interleaved Cb/Cr pairs.
 *   NV21: luma, then one plane of interleaved Cr/Cb pairs. */
#define QORRA_CSP_NONE 0
#define QORRA_CSP_I420 1
#define QORRA_CSP_YV12 2
#define QORRA_CSP_NV12 3
#define QORRA_CSP_NV21 4

/* Negative results of QorraEncode besides the ones x264 itself returns. */
#define QORRA_ERR_NO_OUTPUT_BUFFER (-1) /* out is null or outLen is 0 */
#define QORRA_ERR_SHORT_INPUT (-2)      /* fewer than width * height * 3 / 2 bytes */
#define QORRA_ERR_OUTPUT_TOO_SMALL (-3) /* the picture's NAL units do not fit into outLen */
#define QORRA_ERR_NOT_OPEN (-4)         /* the handle holds no open encoder */

/* A new encoder handle in the closed state; 0 when memory runs out. */
QORRA_API intptr_t QorraInit(void);

/* Releases the handle. Close an open encoder first. Does nothing for handle 0. */
QORRA_API void QorraDestroy(intptr_t handle);

/* Opens an encoder for pictures of width x height at fps pictures per second, in colour
 * space csp (QORRA_CSP_*). Returns 0 when open (and also, doing nothing, for handle 0);
 * -1 when the parameters are refused (unknown colour space, a size x264 cannot take) or
 * memory runs out; the handle is then closed. */
QORRA_API int32_t QorraOpen(intptr_t handle, int32_t width, int32_t height, int32_t fps,
                            uint8_t csp);

/* Closes the open encoder; pictures still held inside are dropped (drain them first with
 * QorraEncode without input). Does nothing on handle 0 or a closed handle. */
QORRA_API void QorraClose(intptr_t handle);

/* Encodes one picture of width * height * 3 / 2 bytes (planes as the colour space of the
 * open says). data is read during the call only. With data null or dataLen 0 the call
 * drains a picture still held by the encoder. The NAL units of the encoded picture, each
 * with its start code, are written one after another to out (capacity outLen bytes);
 * the result is their byte count, 0 when the call gave no output (handle 0 as well), or a
 * negative QORRA_ERR_* code or x264's own negative result. */
QORRA_API int32_t QorraEncode(intptr_t handle, const uint8_t* data, int32_t dataLen,
                              uint8_t* out, int32_t outLen);

#ifdef __cplusplus
}
#endif

#endif
