// Encodes a stereo test signal as Ogg Vorbis in memory, for benchmarks that need a
// long file the repository should not carry.
#pragma once

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

inline std::vector<unsigned char> EncodeOggStereo(const std::vector<float>& left,
                                                  const std::vector<float>& right, long rate) {
  std::vector<unsigned char> bytes;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, 2, rate, 0.4f) != 0) {
    vorbis_info_clear(&vi);
    return bytes;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1);
  auto put = [&](const ogg_page& page) {
    bytes.insert(bytes.end(), page.header, page.header + page.header_len);
    bytes.insert(bytes.end(), page.body, page.body + page.body_len);
  };
  ogg_packet header, comment, code;
  vorbis_analysis_headerout(&vd, &vc, &header, &comment, &code);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comment);
  ogg_stream_packetin(&os, &code);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) put(page);
  const std::size_t frames = std::min(left.size(), right.size());
  std::size_t done = 0;
  bool end = false;
  while (!end) {
    const std::size_t n = std::min<std::size_t>(4096, frames - done);
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      std::memcpy(buffer[0], left.data() + done, n * sizeof(float));
      std::memcpy(buffer[1], right.data() + done, n * sizeof(float));
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      done += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet) != 0) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page) != 0) {
          put(page);
          if (ogg_page_eos(&page)) end = true;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return bytes;
}
