# The 30-second Ogg Vorbis file is encoded when the benchmark starts.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbisfile vorbis ogg)
target_link_libraries(bench_sound_load PRIVATE PkgConfig::VORBISENC)
