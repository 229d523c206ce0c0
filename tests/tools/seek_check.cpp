// A player's seek, done with the ffmpeg libraries (as players built on them do): decodes the
// first video stream of FILE up to PLAY_TO seconds, seeks back to SEEK_TO seconds, and
// decodes on to the end. Prints "seek" at the seek and one line per picture, "SECONDS WxH"
// (" damaged" when the decoder reported an error in it); the decoder's own messages go to
// standard error.
//   vyr_seek_check FILE PLAY_TO SEEK_TO
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vyr_seek_check FILE PLAY_TO SEEK_TO\n");
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, argv[1], nullptr, nullptr) < 0) return 1;
  std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closeInput(&fmt, avformat_close_input);
  if (avformat_find_stream_info(fmt, nullptr) < 0) return 1;
  const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) return 1;
  AVStream* stream = fmt->streams[video];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  std::unique_ptr<AVCodecContext*, void (*)(AVCodecContext**)> freeCodec(&ctx, avcodec_free_context);
  if (!ctx || avcodec_parameters_to_context(ctx, stream->codecpar) < 0 || avcodec_open2(ctx, codec, nullptr) < 0)
    return 1;
  const double playTo = std::atof(argv[2]);
  const double seekTo = std::atof(argv[3]);
  bool seeked = false;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  while (av_read_frame(fmt, packet) >= 0) {
    if (packet->stream_index == video && avcodec_send_packet(ctx, packet) >= 0) {
      while (avcodec_receive_frame(ctx, frame) == 0) {
        const double t = static_cast<double>(frame->best_effort_timestamp) * av_q2d(stream->time_base);
        std::printf("%.3f %dx%d%s\n", t, frame->width, frame->height, frame->decode_error_flags ? " damaged" : "");
        if (!seeked && t >= playTo) {
          seeked = true;
          std::printf("seek\n");
          av_seek_frame(fmt, video, static_cast<int64_t>(seekTo / av_q2d(stream->time_base)), AVSEEK_FLAG_BACKWARD);
          avcodec_flush_buffers(ctx);
          break;
        }
      }
    }
    av_packet_unref(packet);
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  return seeked ? 0 : 1;
}
