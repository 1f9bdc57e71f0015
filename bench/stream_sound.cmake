# The minute of Ogg Vorbis music is encoded when the benchmark starts, and decoded beside
# the library by a plain ov_read loop.
find_package(PkgConfig REQUIRED)
pkg_check_modules(STREAM_BENCH_VORBIS REQUIRED IMPORTED_TARGET vorbisenc vorbisfile vorbis ogg)
target_link_libraries(bench_stream_sound PRIVATE PkgConfig::STREAM_BENCH_VORBIS)
