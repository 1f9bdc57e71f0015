# The rasteriser benchmark measures SDL2's software renderer and pixman beside the library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(RASTER_PEERS REQUIRED IMPORTED_TARGET sdl2 pixman-1)
target_link_libraries(bench_raster PRIVATE PkgConfig::RASTER_PEERS)
