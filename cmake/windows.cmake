# The Windows programs laid out as a user gets them (scripts/build-windows packs this folder):
#
#   camsteer.exe, camsteer_d.exe, camsteer_replay.exe
#   images\        arrow pictures and sample reference pictures
#   demo.avi       the demo clip (made by images/CMakeLists.txt)
#
# The programs find the pictures in images\ beside themselves.

set_target_properties(camsteer camsteer_d camsteer_replay PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

file(GLOB camsteer_pictures ${PROJECT_SOURCE_DIR}/images/*.bmp ${PROJECT_SOURCE_DIR}/images/*.png)
set(camsteer_pictures_out)
foreach(picture IN LISTS camsteer_pictures)
    get_filename_component(name ${picture} NAME)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/images/${name}
        COMMAND ${CMAKE_COMMAND} -E copy ${picture} ${PROJECT_BINARY_DIR}/images/${name}
        DEPENDS ${picture} VERBATIM)
    list(APPEND camsteer_pictures_out ${PROJECT_BINARY_DIR}/images/${name})
endforeach()
add_custom_target(camsteer_windows_pictures ALL DEPENDS ${camsteer_pictures_out})

# The two programs a user runs without symbols (a third of their size); camsteer_d keeps its
# debugging information.
target_link_options(camsteer PRIVATE -s)
target_link_options(camsteer_replay PRIVATE -s)
