# The text benchmark measures SDL2_ttf beside the library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FONT_PEERS REQUIRED IMPORTED_TARGET SDL2_ttf sdl2)
target_link_libraries(bench_font PRIVATE PkgConfig::FONT_PEERS)
