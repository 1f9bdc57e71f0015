# The test card is written as PNG files.
find_package(PNG REQUIRED)
target_link_libraries(gamelib-testcard PRIVATE PNG::PNG)
