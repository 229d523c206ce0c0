// How the programs' allocator treats large blocks. The desktop queue converts file after
// file on fresh threads, a conversion in segments opens a decoder and an encoder per
// segment on each of its transcoder threads, and the decoders and encoders allocate and
// free buffers of many megabytes. By default the C library raises its threshold for mapping large blocks each
// time such a block is freed, and with it the free space it keeps at the end of each
// thread's pool (twice the threshold): after a while every pool keeps tens of megabytes
// that no file needs any more, and a long queue run grows. A fixed threshold keeps large
// blocks mapped on their own, returned when freed, and the pools trimmed as usual.
#pragma once

#include <cstddef>

// Blocks of this size and above are mapped on their own (a 1080p picture is below it).
constexpr size_t VyrLargeBlockSize = 4 * 1024 * 1024;

// Fixes the threshold for the whole process; call once at start, before threads exist.
// False where the C library offers no such setting.
bool FixLargeBlockThreshold();
