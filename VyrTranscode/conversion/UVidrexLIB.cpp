#include "conversion/UVidrexLIB.h"

// Included here only, so the compiler checks the declarations above against the library.
#include "Vidrex.h"

#include "protocol/UOmCamProtocol.h"

static_assert(VIDREX_CODEC_MPEG4 == OmVideoType_MPEG4, "codec codes differ from the library");
static_assert(VIDREX_CODEC_H264 == OmVideoType_H264, "codec codes differ from the library");
static_assert(VIDREX_CODEC_MJPEG == OmVideoType_MJPEG, "codec codes differ from the library");
static_assert(VIDREX_CODEC_H265 == OmVideoType_H265, "codec codes differ from the library");
