# Shared build settings and helpers for every folder.

add_library(gamelib_options INTERFACE)
target_compile_options(gamelib_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wno-unused-parameter>)
# The kernel tables are built from one pack of a few hundred kernels.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(gamelib_options INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fbracket-depth=1024>)
endif()
target_include_directories(gamelib_options INTERFACE
  ${PROJECT_SOURCE_DIR}/include
  ${PROJECT_SOURCE_DIR}/platform/include)

if(GAMELIB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# Fuzz builds: coverage feedback from the library's own code, not only the target's.
if(GAMELIB_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# gamelib_folder_library(NAME [DEPS ...]): a static library of every .cpp in the
# calling folder (an interface library while the folder is still empty).
function(gamelib_folder_library name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC gamelib_options ${ARGN})
    # Internal headers are seen by the library itself, its tests and fuzz targets,
    # never by tools, benchmarks or a game: they build against include/ alone.
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE gamelib_options ${ARGN})
  endif()
endfunction()

# gamelib_test_folder(NAME [EXTRA_LIBS ...]): one GoogleTest binary of every .cpp in
# the calling folder, registered with ctest.
function(gamelib_test_folder name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE gamelib GTest::gtest_main ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(${name} PRIVATE GAMELIB_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()
