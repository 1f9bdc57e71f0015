# The device rasteriser's benchmark measures SDL2's software renderer and pixman beside it,
# and reaches the rasteriser through its internal entry.
find_package(PkgConfig REQUIRED)
pkg_check_modules(D3D_RASTER_PEERS REQUIRED IMPORTED_TARGET sdl2 pixman-1)
target_link_libraries(bench_d3d_raster PRIVATE PkgConfig::D3D_RASTER_PEERS)
target_include_directories(bench_d3d_raster PRIVATE ${PROJECT_SOURCE_DIR}/platform/src)
