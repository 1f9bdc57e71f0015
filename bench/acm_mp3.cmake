# The MP3 benchmark decodes with libmpg123 directly beside the library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ACM_MP3_PEER REQUIRED IMPORTED_TARGET libmpg123)
target_link_libraries(bench_acm_mp3 PRIVATE PkgConfig::ACM_MP3_PEER)
target_compile_definitions(bench_acm_mp3 PRIVATE GAMELIB_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
