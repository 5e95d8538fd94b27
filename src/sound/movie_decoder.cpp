#include "sound/movie_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace talven::sound {
namespace {

constexpr int kMinAudioRate = 8000;
constexpr int kMaxAudioRate = 192000;
// Sound at a rate outside these is dropped: the resampler would stretch each packet of a file that
// claims 1 Hz into tens of thousands of samples per sample. From 4 kHz up a sample becomes at most
// 48 at the highest output rate.
constexpr int kMinSourceRate = 4000;
constexpr int kMaxSourceRate = 1'000'000;
// The resampler mixes at most this many channels (its own limit).
constexpr int kMaxSourceChannels = 64;
// The longest sound frame a decoder may hand out, in samples over all its channels (a FLAC block
// of 64 Ki samples in 8 channels fits twice): with the rate bound above, at most 48 Mi output
// frames come of one.
constexpr int kMaxAudioFrameSamples = 1 << 20;

// Probing reads up to 4 MiB or 5 s of the file to learn its streams. Not less: MPEG program streams
// may show their sound packets only after a second or more of pictures, and a stream the probe did
// not see plays silent. Local files make this cheap.
constexpr std::int64_t kProbeSize = std::int64_t(4) << 20;
constexpr std::int64_t kAnalyzeDuration = std::int64_t(5) * AV_TIME_BASE;
// More streams than a movie ever has; bounds the probe of a file that declares thousands.
constexpr int kMaxStreams = 64;

// Picture decoding may use the machine's second core (the player's own thread is the first): an
// HD movie then keeps up on a small machine. Sound decoding is cheap and stays on one thread.
constexpr int kAudioThreads = 1;

constexpr int kIoBufferSize = 32 * 1024;

// Rows of the scaled picture start on this boundary, and the buffer has this much slack past its
// end, so swscale's vector code may write in whole blocks.
constexpr int kRowAlign = 64;

std::string error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

// Empty when a picture of w x h fits the limits, else why not.
std::string picture_refusal(std::int64_t w, std::int64_t h) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  if (w > kMaxMovieSide || h > kMaxMovieSide)
    return "picture of " + size + " is larger than " + std::to_string(kMaxMovieSide) + "x" +
           std::to_string(kMaxMovieSide);
  if (w * h > kMaxMoviePixels)
    return "picture of " + size + " has more pixels than " + std::to_string(kMaxMovieSquare) + "x" +
           std::to_string(kMaxMovieSquare);
  return {};
}

// The width the picture is shown at: the coded width scaled by the sample aspect ratio, rounded up
// to even; the coded width itself when the pixels are square or their shape is unknown.
std::int64_t shown_width(int coded_width, AVRational sar) {
  if (sar.num <= 0 || sar.den <= 0 || sar.num == sar.den) return coded_width;
  const double exact = double(coded_width) * sar.num / sar.den;  // under 2^62: fits
  std::int64_t width = std::llround(exact);
  width += width & 1;
  return std::max<std::int64_t>(width, 2);
}

// The bytes of a memory source, read through FFmpeg's I/O as if they were a file.
struct MemoryFile {
  const std::string* bytes = nullptr;
  std::int64_t position = 0;
};

int read_memory(void* opaque, std::uint8_t* buffer, int size) {
  auto* file = static_cast<MemoryFile*>(opaque);
  const std::int64_t left = std::int64_t(file->bytes->size()) - file->position;
  if (left <= 0 || size <= 0) return AVERROR_EOF;
  const int n = static_cast<int>(std::min<std::int64_t>(left, size));
  std::memcpy(buffer, file->bytes->data() + file->position, std::size_t(n));
  file->position += n;
  return n;
}

// Like lseek: any position from 0 on, reads past the end find nothing; AVSEEK_SIZE tells the size,
// which also lets FFmpeg cap what it reads for a packet that claims more bytes than the file has.
std::int64_t seek_memory(void* opaque, std::int64_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(opaque);
  const std::int64_t size = std::int64_t(file->bytes->size());
  std::int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = file->position; break;
    case SEEK_END: base = size; break;
    default: return AVERROR(EINVAL);
  }
  if (offset < -base || offset > std::numeric_limits<std::int64_t>::max() - base) return AVERROR(EINVAL);
  file->position = base + offset;
  return file->position;
}

// A movie plays from its own bytes only: a file a demuxer would open beside it (a playlist's
// entries, external references, image sequences) is refused.
int refuse_other_files(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

// The stream to show or play of `type`: the first marked default, else the first, among those
// with a decoder and the parameters a decoder needs; cover art is no picture stream. -1 if none.
int choose_stream(const AVFormatContext* format, AVMediaType type) {
  int best = -1;
  bool best_is_default = false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* stream = format->streams[i];
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_type != type) continue;
    if (type == AVMEDIA_TYPE_VIDEO &&
        ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || par->width <= 0 || par->height <= 0))
      continue;
    if (type == AVMEDIA_TYPE_AUDIO &&
        (par->ch_layout.nb_channels <= 0 || par->ch_layout.nb_channels > kMaxSourceChannels ||
         par->sample_rate < kMinSourceRate || par->sample_rate > kMaxSourceRate))
      continue;
    if (!avcodec_find_decoder(par->codec_id)) continue;
    const bool is_default = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
    if (best < 0 || (is_default && !best_is_default)) {
      best = static_cast<int>(i);
      best_is_default = is_default;
    }
  }
  return best;
}

double positive_or_zero(AVRational q) { return q.num > 0 && q.den > 0 ? av_q2d(q) : 0.0; }

bool is_full_range_format(int format) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P: return true;
    default: return false;
  }
}

// One stream's decoder and where its next frame starts when it comes without a timestamp.
struct StreamDecoder {
  int index = -1;
  AVStream* stream = nullptr;
  AVCodecContext* codec = nullptr;
  double next_time = 0;

  bool open(AVStream* s, int threads) {
    const AVCodec* decoder = avcodec_find_decoder(s->codecpar->codec_id);
    if (!decoder) return false;
    codec = avcodec_alloc_context3(decoder);
    if (!codec || avcodec_parameters_to_context(codec, s->codecpar) < 0) return close();
    codec->pkt_timebase = s->time_base;
    codec->thread_count = threads;
    codec->max_pixels = kMaxMoviePixels;
    codec->max_samples = kMaxAudioFrameSamples;
    if (avcodec_open2(codec, decoder, nullptr) < 0) return close();
    index = s->index;
    stream = s;
    return true;
  }
  bool close() {
    avcodec_free_context(&codec);
    index = -1;
    stream = nullptr;
    next_time = 0;
    return false;
  }
};

}  // namespace

struct MovieDecoder::Impl {
  // The source as given to open, kept for a rewind that must open it again.
  std::string bytes, host_path;
  int audio_rate = 48000;
  int picture_threads = kMovieDecoderThreads;

  MemoryFile memory;
  AVIOContext* io = nullptr;
  bool io_is_file = false;  // opened by avio_open2 (closed with avio_closep), else over `bytes`
  AVFormatContext* format = nullptr;
  StreamDecoder video, audio;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  double start = 0;  // the container's clock at the start of the file, in seconds
  bool at_end = false;
  MovieInfo info;

  SwsContext* scaler = nullptr;
  SwsContext* scaler_colours_for = nullptr;  // the scaler whose colour details were last set
  int scaler_colorspace = -1, scaler_full_range = -1;
  std::uint8_t* picture = nullptr;  // the scaler's output: info.height rows of picture_stride bytes
  int picture_stride = 0;

  SwrContext* resampler = nullptr;
  AVSampleFormat resampler_format = AV_SAMPLE_FMT_NONE;
  int resampler_rate = 0;
  AVChannelLayout resampler_layout{};
  double sound_end = 0;  // where the resampler's next output sample belongs

  ~Impl() { close(); }

  void close() {
    video.close();
    audio.close();
    avformat_close_input(&format);
    if (io_is_file) {
      avio_closep(&io);
    } else if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    io_is_file = false;
    av_packet_free(&packet);
    av_frame_free(&frame);
    sws_freeContext(scaler);
    scaler = scaler_colours_for = nullptr;
    av_freep(&picture);
    forget_sound();
    info = MovieInfo{};
    start = 0;
    at_end = false;
    bytes.clear();
    bytes.shrink_to_fit();
    host_path.clear();
  }

  void forget_sound() {
    swr_free(&resampler);
    av_channel_layout_uninit(&resampler_layout);
    resampler_format = AV_SAMPLE_FMT_NONE;
    resampler_rate = 0;
    sound_end = 0;
  }

  bool open_source(std::string* why);
  double frame_time(StreamDecoder& d, const AVFrame* f) const;
  bool receive(StreamDecoder& d, std::vector<VideoFrame>& frames, std::vector<AudioBlock>& audio_out);
  void add_picture(const AVFrame* f, std::vector<VideoFrame>& out);
  void add_sound(const AVFrame* f, std::vector<AudioBlock>& out);
  bool resampler_for(const AVFrame* f, std::vector<AudioBlock>& out);
  void drain_resampler(std::vector<AudioBlock>& out);
  void set_scaler_colours(const AVFrame* f, const AVPixFmtDescriptor* desc);
};

bool MovieDecoder::Impl::open_source(std::string* why) {
  if (audio_rate < kMinAudioRate || audio_rate > kMaxAudioRate)
    return fail(why, "audio rate " + std::to_string(audio_rate) + " is not between " + std::to_string(kMinAudioRate) +
                         " and " + std::to_string(kMaxAudioRate));
  if (bytes.empty() && host_path.empty()) return fail(why, "no movie file given");
  if (!bytes.empty()) {
    memory = MemoryFile{&bytes, 0};
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (buffer) io = avio_alloc_context(buffer, kIoBufferSize, 0, &memory, read_memory, nullptr, seek_memory);
    if (!io) {
      av_free(buffer);
      return fail(why, "out of memory");
    }
  } else {
    // "file:" keeps a path with a colon in it from naming another protocol.
    const int r = avio_open2(&io, ("file:" + host_path).c_str(), AVIO_FLAG_READ, nullptr, nullptr);
    if (r < 0) return fail(why, "cannot open " + host_path + ": " + error_text(r));
    io_is_file = true;
    if (avio_size(io) == 0) return fail(why, "the file is empty");
  }

  format = avformat_alloc_context();
  if (!format) return fail(why, "out of memory");
  format->pb = io;
  format->probesize = kProbeSize;
  format->max_analyze_duration = kAnalyzeDuration;
  format->max_streams = kMaxStreams;
  // No file beside the movie is opened: a playlist or a concat list names files the game never
  // meant to show. Demuxers open them through io_open, or through a nested context that inherits
  // the protocol whitelist, which names no protocol.
  format->io_open = refuse_other_files;
  format->protocol_whitelist = av_strdup("");
  if (!format->protocol_whitelist) return fail(why, "out of memory");
  // The name only helps the probe guess from the extension; the bytes come through `io`.
  if (avformat_open_input(&format, bytes.empty() ? host_path.c_str() : "", nullptr, nullptr) < 0)
    return fail(why, "not a media file FFmpeg can read");  // avformat_open_input freed `format`

  // A header that claims a giant picture is refused before the probe decodes any of it.
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* s = format->streams[i];
    if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    std::string refusal = picture_refusal(s->codecpar->width, s->codecpar->height);
    if (!refusal.empty()) return fail(why, std::move(refusal));
  }

  // The probe's own decoders get the same pixel limit as ours (FFmpeg keeps them to one thread).
  std::vector<AVDictionary*> options(format->nb_streams, nullptr);
  for (AVDictionary*& o : options) av_dict_set_int(&o, "max_pixels", kMaxMoviePixels, 0);
  const int probed = avformat_find_stream_info(format, options.empty() ? nullptr : options.data());
  for (AVDictionary*& o : options) av_dict_free(&o);
  if (probed < 0) return fail(why, "cannot read the file's streams: " + error_text(probed));

  const int video_index = choose_stream(format, AVMEDIA_TYPE_VIDEO);
  const int audio_index = choose_stream(format, AVMEDIA_TYPE_AUDIO);
  if (video_index >= 0) {
    AVStream* s = format->streams[video_index];
    const int coded_w = s->codecpar->width, coded_h = s->codecpar->height;
    std::string refusal = picture_refusal(coded_w, coded_h);
    const std::int64_t shown_w = shown_width(coded_w, av_guess_sample_aspect_ratio(format, s, nullptr));
    if (refusal.empty()) refusal = picture_refusal(shown_w, coded_h);
    if (!refusal.empty()) return fail(why, std::move(refusal));
    if (video.open(s, picture_threads)) {
      info.has_video = true;
      info.width = static_cast<int>(shown_w);
      info.height = coded_h;
      const AVRational rate = s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0 ? s->avg_frame_rate : s->r_frame_rate;
      info.frame_rate = positive_or_zero(rate);
      if (info.frame_rate > 1000) info.frame_rate = 0;  // a clock's tick taken for a frame rate
    }
  }
  if (audio_index >= 0 && audio.open(format->streams[audio_index], kAudioThreads)) info.has_audio = true;
  if (!info.has_video && !info.has_audio) return fail(why, "no stream FFmpeg can decode");

  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (int(i) != video.index && int(i) != audio.index) format->streams[i]->discard = AVDISCARD_ALL;
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0) info.duration = double(format->duration) / AV_TIME_BASE;
  if (format->start_time != AV_NOPTS_VALUE) start = double(format->start_time) / AV_TIME_BASE;

  packet = av_packet_alloc();
  frame = av_frame_alloc();
  picture_stride = info.has_video ? FFALIGN(info.width * 4, kRowAlign) : 0;
  if (info.has_video) picture = static_cast<std::uint8_t*>(av_malloc(std::size_t(picture_stride) * info.height + kRowAlign));
  if (!packet || !frame || (info.has_video && !picture)) return fail(why, "out of memory");
  return true;
}

double MovieDecoder::Impl::frame_time(StreamDecoder& d, const AVFrame* f) const {
  if (f->best_effort_timestamp == AV_NOPTS_VALUE) return d.next_time;
  const double t = double(f->best_effort_timestamp) * av_q2d(d.stream->time_base) - start;
  return std::isfinite(t) ? t : d.next_time;
}

// Takes every frame the decoder has ready. False when the decoder runs out of memory, which ends
// the movie; on any other error the frames of that packet are lost and decoding goes on.
bool MovieDecoder::Impl::receive(StreamDecoder& d, std::vector<VideoFrame>& frames, std::vector<AudioBlock>& audio_out) {
  for (;;) {
    const int r = avcodec_receive_frame(d.codec, frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return r != AVERROR(ENOMEM);
    if (&d == &video) add_picture(frame, frames);
    else add_sound(frame, audio_out);
    av_frame_unref(frame);
  }
}

// Tells the scaler how `f`'s YUV becomes RGB, when that differs from what it was last told.
void MovieDecoder::Impl::set_scaler_colours(const AVFrame* f, const AVPixFmtDescriptor* desc) {
  if (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) return;  // no YUV matrix to pick
  // Untagged pictures follow the usual convention: BT.709 from HD up, BT.601 below.
  const int colorspace = f->colorspace != AVCOL_SPC_UNSPECIFIED ? f->colorspace
                         : f->height >= 720                     ? AVCOL_SPC_BT709
                                                                : AVCOL_SPC_BT470BG;
  const int full_range = f->color_range == AVCOL_RANGE_JPEG || is_full_range_format(f->format);
  if (scaler == scaler_colours_for && colorspace == scaler_colorspace && full_range == scaler_full_range) return;
  sws_setColorspaceDetails(scaler, sws_getCoefficients(colorspace), full_range, sws_getCoefficients(SWS_CS_DEFAULT),
                           1, 0, 1 << 16, 1 << 16);
  scaler_colours_for = scaler;
  scaler_colorspace = colorspace;
  scaler_full_range = full_range;
}

void MovieDecoder::Impl::add_picture(const AVFrame* f, std::vector<VideoFrame>& out) {
  const double time = frame_time(video, f);
  double duration = 0;
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 2, 100)
  const std::int64_t frame_duration = f->duration;
#else
  const std::int64_t frame_duration = f->pkt_duration;
#endif
  if (frame_duration > 0) duration = double(frame_duration) * av_q2d(video.stream->time_base);
  else if (info.frame_rate > 0) duration = 1.0 / info.frame_rate;
  video.next_time = time + duration;

  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL) || f->width <= 0 || f->height <= 0) return;
  // Every picture comes out at the shown size open reported, even when the stream changes size.
  scaler = sws_getCachedContext(scaler, f->width, f->height, static_cast<AVPixelFormat>(f->format), info.width,
                                info.height, AV_PIX_FMT_RGB32, SWS_BICUBIC | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                                nullptr);
  if (!scaler) return;
  set_scaler_colours(f, desc);
  std::uint8_t* planes[4] = {picture, nullptr, nullptr, nullptr};
  const int strides[4] = {picture_stride, 0, 0, 0};
  if (sws_scale(scaler, f->data, f->linesize, 0, f->height, planes, strides) != info.height) return;

  // AV_PIX_FMT_RGB32 is 0xAARRGGBB in the machine's byte order; a picture with its own alpha
  // (or a palette's) is made opaque on the way out.
  const bool force_alpha = (desc->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) != 0;
  VideoFrame picture_out;
  picture_out.time = time;
  picture_out.width = info.width;
  picture_out.height = info.height;
  picture_out.pixels.resize(std::size_t(info.width) * info.height);
  for (int y = 0; y < info.height; ++y) {
    std::uint32_t* row = picture_out.pixels.data() + std::size_t(y) * info.width;
    std::memcpy(row, picture + std::size_t(y) * picture_stride, std::size_t(info.width) * 4);
    if (force_alpha)
      for (int x = 0; x < info.width; ++x) row[x] |= 0xFF000000u;
  }
  out.push_back(std::move(picture_out));
}

// Makes the resampler take `f`'s format, draining what the old one held into `out` first.
bool MovieDecoder::Impl::resampler_for(const AVFrame* f, std::vector<AudioBlock>& out) {
  AVChannelLayout layout{};
  if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&f->ch_layout) != 1)
    av_channel_layout_default(&layout, f->ch_layout.nb_channels);
  else if (av_channel_layout_copy(&layout, &f->ch_layout) < 0)
    return false;
  const auto format = static_cast<AVSampleFormat>(f->format);
  if (resampler && format == resampler_format && f->sample_rate == resampler_rate &&
      av_channel_layout_compare(&layout, &resampler_layout) == 0) {
    av_channel_layout_uninit(&layout);
    return true;
  }
  drain_resampler(out);
  const double end = sound_end;
  forget_sound();
  if (layout.nb_channels <= 0 || layout.nb_channels > kMaxSourceChannels) {
    av_channel_layout_uninit(&layout);
    return false;
  }
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;  // not const: FFmpeg 5.1 takes it so
  int r = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLT, audio_rate, &layout, format, f->sample_rate, 0,
                              nullptr);
  if (r >= 0 && layout.nb_channels == 1) {
    // Mono plays at full level on both sides, as a mono sound does on the platform; the
    // resampler's own choice would be 3 dB down.
    const double both[2] = {1.0, 1.0};
    r = swr_set_matrix(resampler, both, 1);
  }
  if (r >= 0) r = swr_init(resampler);
  if (r < 0) {
    swr_free(&resampler);
    av_channel_layout_uninit(&layout);
    return false;
  }
  resampler_format = format;
  resampler_rate = f->sample_rate;
  resampler_layout = layout;  // takes over the layout's storage
  sound_end = end;
  return true;
}

void MovieDecoder::Impl::drain_resampler(std::vector<AudioBlock>& out) {
  // A resampler hands out what it holds in a few calls; bounded for safety.
  for (int call = 0; resampler && call < 8; ++call) {
    const int capacity = swr_get_out_samples(resampler, 0);
    if (capacity <= 0) return;
    AudioBlock block;
    block.samples.resize(std::size_t(capacity) * 2);
    auto* data = reinterpret_cast<std::uint8_t*>(block.samples.data());
    const int n = swr_convert(resampler, &data, capacity, nullptr, 0);
    if (n <= 0) return;
    block.samples.resize(std::size_t(n) * 2);
    for (float& v : block.samples)
      if (!std::isfinite(v)) v = 0;
    block.time = sound_end;
    sound_end += double(n) / audio_rate;
    out.push_back(std::move(block));
  }
}

void MovieDecoder::Impl::add_sound(const AVFrame* f, std::vector<AudioBlock>& out) {
  if (f->nb_samples <= 0 || f->sample_rate < kMinSourceRate || f->sample_rate > kMaxSourceRate) return;
  const double time = frame_time(audio, f);
  audio.next_time = time + double(f->nb_samples) / f->sample_rate;
  if (!resampler_for(f, out)) return;
  // The resampler still holds samples from earlier frames; they come out first.
  const double held = double(swr_get_delay(resampler, audio_rate)) / audio_rate;
  const int capacity = swr_get_out_samples(resampler, f->nb_samples);
  if (capacity <= 0) return;
  AudioBlock block;
  block.samples.resize(std::size_t(capacity) * 2);
  auto* data = reinterpret_cast<std::uint8_t*>(block.samples.data());
  const int n = swr_convert(resampler, &data, capacity, const_cast<const std::uint8_t**>(f->extended_data), f->nb_samples);
  if (n <= 0) return;
  block.samples.resize(std::size_t(n) * 2);
  // A float source may carry NaN or infinity; the mixer must never see them.
  for (float& v : block.samples)
    if (!std::isfinite(v)) v = 0;
  block.time = time - held;
  sound_end = block.time + double(n) / audio_rate;
  out.push_back(std::move(block));
}

MovieDecoder::MovieDecoder() : impl_(std::make_unique<Impl>()) {}
MovieDecoder::~MovieDecoder() = default;
MovieDecoder::MovieDecoder(MovieDecoder&&) noexcept = default;
MovieDecoder& MovieDecoder::operator=(MovieDecoder&&) noexcept = default;

bool MovieDecoder::open(const MovieSource& source, int audio_rate, std::string* why, int picture_threads) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  Impl& m = *impl_;
  m.close();
  m.picture_threads = std::clamp(picture_threads, 1, kMovieDecoderThreads);
  m.bytes = source.bytes;
  m.host_path = source.bytes.empty() ? source.host_path : std::string();
  m.audio_rate = audio_rate;
  if (m.open_source(why)) return true;
  m.close();
  return false;
}

const MovieInfo& MovieDecoder::info() const {
  static const MovieInfo none;
  return impl_ ? impl_->info : none;
}

bool MovieDecoder::decode_next(std::vector<VideoFrame>& frames, std::vector<AudioBlock>& audio) {
  if (!impl_ || !impl_->format || impl_->at_end) return false;
  Impl& m = *impl_;
  const std::size_t frames_before = frames.size(), audio_before = audio.size();
  const auto produced = [&] { return frames.size() > frames_before || audio.size() > audio_before; };
  while (!m.at_end && !produced()) {
    const int r = av_read_frame(m.format, m.packet);
    if (r < 0) {
      // The end of the file, or a read error that ends it: the decoders give up what they hold.
      for (StreamDecoder* d : {&m.video, &m.audio}) {
        if (!d->codec) continue;
        avcodec_send_packet(d->codec, nullptr);
        m.receive(*d, frames, audio);
      }
      m.drain_resampler(audio);
      m.at_end = true;
      break;
    }
    StreamDecoder* d = m.packet->stream_index == m.video.index   ? &m.video
                       : m.packet->stream_index == m.audio.index ? &m.audio
                                                                 : nullptr;
    // Every frame is taken after each packet, so a decoder never refuses one for being full;
    // a packet it refuses as broken is dropped.
    const int sent = d ? avcodec_send_packet(d->codec, m.packet) : 0;
    av_packet_unref(m.packet);
    if (sent == AVERROR(ENOMEM) || (d && !m.receive(*d, frames, audio))) m.at_end = true;
  }
  return produced();
}

bool MovieDecoder::rewind() {
  if (!impl_ || !impl_->format) return false;
  Impl& m = *impl_;
  const std::int64_t target = m.format->start_time != AV_NOPTS_VALUE ? m.format->start_time : 0;
  if (avformat_seek_file(m.format, -1, std::numeric_limits<std::int64_t>::min(), target, target, 0) >= 0) {
    for (StreamDecoder* d : {&m.video, &m.audio}) {
      if (d->codec) avcodec_flush_buffers(d->codec);
      d->next_time = 0;
    }
    m.forget_sound();
    m.at_end = false;
    return true;
  }
  // A container that cannot seek (an FLV file without an index) starts again from its first byte.
  std::string bytes = std::move(m.bytes), host_path = std::move(m.host_path);
  m.close();
  m.bytes = std::move(bytes);
  m.host_path = std::move(host_path);
  if (m.open_source(nullptr)) return true;
  m.close();
  return false;
}

}  // namespace talven::sound
