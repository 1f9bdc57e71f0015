# The Ogg Vorbis file is encoded when the benchmark starts; the others are made from the
# test files.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LOOP_BENCH_VORBIS REQUIRED IMPORTED_TARGET vorbisenc vorbis ogg)
target_link_libraries(bench_stream_loop PRIVATE PkgConfig::LOOP_BENCH_VORBIS)
target_compile_definitions(bench_stream_loop PRIVATE GAMELIB_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
