# The sprite benchmark draws the same scene with SDL2's software renderer beside the library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(DRAW_GRAPH_PEERS REQUIRED IMPORTED_TARGET sdl2)
target_link_libraries(bench_draw_graph PRIVATE PkgConfig::DRAW_GRAPH_PEERS)
