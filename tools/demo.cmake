# The demo writes its frames, contact sheet and sound mix itself.
find_package(PNG REQUIRED)
target_link_libraries(gamelib-demo PRIVATE PNG::PNG)
