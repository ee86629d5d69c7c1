# The Windows build (MinGW-w64 toolchains in cmake/toolchains/): the decoding library, the
# platform layer on Win32, the module KAVEL.8bi with its Windows resources, and plugin-host.exe.
# The module and the host are built from the same host/ and viewer/ sources as on Linux.

set(KAVEL_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins)

# What POSIX gives the library and MinGW lacks (pread), ahead of every library source.
target_sources(kavel_objects PRIVATE ${PROJECT_SOURCE_DIR}/format/posix_compat_win32.cpp)
target_compile_options(kavel_objects PRIVATE
  -include ${PROJECT_SOURCE_DIR}/format/posix_compat_win32.h)

add_library(kavel_platform STATIC
  platform/application.cpp
  platform/cursor_masks.cpp
  platform/dialog_handlers.cpp
  platform/shown_records.cpp
  platform/dib_section.cpp
  platform/module_instance.cpp
  platform/resources.cpp
  platform/qt/dialog_automation.cpp
  platform/win32/cursor.cpp
  platform/win32/dialog.cpp
  platform/win32/drawing_context.cpp
  platform/win32/message_box.cpp
  platform/win32/module_file.cpp
  platform/win32/popup_menu.cpp
  platform/win32/string_resource.cpp
  platform/win32/window.cpp
  platform/win32/windowing_system.cpp
)
target_include_directories(kavel_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kavel_platform PUBLIC user32 gdi32 comctl32)

add_library(kavel_image STATIC
  viewer/image_file.cpp
  viewer/dib_display.cpp
  viewer/pane_geometry.cpp
  viewer/pane_thumbnail.cpp
  viewer/pixel_raster.cpp
)
target_include_directories(kavel_image PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kavel_image PUBLIC kavel_reader kavel_platform)
target_compile_options(kavel_image PRIVATE
  -include ${PROJECT_SOURCE_DIR}/format/posix_compat_win32.h)

# The module's resources: the resource script and the files it names are written from the
# module's own resource table by a small program the build runs (under Wine).
add_executable(resource_script_writer
  host/win32/resource_script_main.cpp
  platform/win32/resource_script.cpp
  platform/cursor_masks.cpp
  host/module_resources.cpp
  host/property_list.cpp
)
target_include_directories(resource_script_writer PRIVATE ${PROJECT_SOURCE_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KAVEL_CODE_KEY 8664)
else()
  set(KAVEL_CODE_KEY wx86)
endif()
set(KAVEL_RESOURCE_DIR ${CMAKE_BINARY_DIR}/resources)
# Or the writer of another Windows build, where this build's programs cannot run here (the
# 32-bit build on a machine that runs no 32-bit programs): what it writes depends only on the
# resource table and the code key it is given.
set(KAVEL_RESOURCE_SCRIPT_WRITER "" CACHE FILEPATH
    "A resource_script_writer.exe of another Windows build, run instead of this build's")
if(KAVEL_RESOURCE_SCRIPT_WRITER)
  set(KAVEL_WRITER_COMMAND ${KAVEL_WINE} ${KAVEL_RESOURCE_SCRIPT_WRITER})
  set(KAVEL_WRITER_DEPENDS ${KAVEL_RESOURCE_SCRIPT_WRITER})
else()
  set(KAVEL_WRITER_COMMAND resource_script_writer)
  set(KAVEL_WRITER_DEPENDS resource_script_writer)
endif()
add_custom_command(
  OUTPUT ${KAVEL_RESOURCE_DIR}/KAVEL.rc
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KAVEL_RESOURCE_DIR}
  COMMAND ${KAVEL_WRITER_COMMAND} ${KAVEL_RESOURCE_DIR} ${KAVEL_CODE_KEY}
  DEPENDS ${KAVEL_WRITER_DEPENDS}
  COMMENT "Writing the module's resource script")
add_custom_command(
  OUTPUT ${KAVEL_RESOURCE_DIR}/KAVEL.res.o
  COMMAND ${CMAKE_RC_COMPILER} -J rc -O coff -c 65001 --include-dir ${KAVEL_RESOURCE_DIR}
          -i ${KAVEL_RESOURCE_DIR}/KAVEL.rc -o ${KAVEL_RESOURCE_DIR}/KAVEL.res.o
  WORKING_DIRECTORY ${KAVEL_RESOURCE_DIR}
  DEPENDS ${KAVEL_RESOURCE_DIR}/KAVEL.rc
  COMMENT "Compiling the module's resources")

add_library(kavel_plugin_core OBJECT
  host/buffer_suite.cpp
  host/entry_point.cpp
  host/module_load.cpp
  host/module_resources.cpp
  host/plugin_app.cpp
  host/property_list.cpp
  viewer/box_drawing.cpp
  viewer/full_view.cpp
  viewer/preview_pane.cpp
  viewer/viewer_dialog.cpp
  viewer/viewer_mouse.cpp
  viewer/viewer_settings.cpp
)
target_include_directories(kavel_plugin_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kavel_plugin_core PUBLIC kavel_image kavel_platform kavel_reader)
target_compile_options(kavel_plugin_core PRIVATE
  -include ${PROJECT_SOURCE_DIR}/format/posix_compat_win32.h)

# KAVEL.8bi: its one export is ENTRYPOINT (ordinal 1); the C and C++ runtimes are linked in.
add_library(kavel_module MODULE host/dll_main.cpp ${KAVEL_RESOURCE_DIR}/KAVEL.res.o
            ${PROJECT_SOURCE_DIR}/host/KAVEL.def)
target_link_libraries(kavel_module PRIVATE kavel_plugin_core)
set_target_properties(kavel_module PROPERTIES
  OUTPUT_NAME KAVEL
  PREFIX ""
  SUFFIX ".8bi"
  LIBRARY_OUTPUT_DIRECTORY ${KAVEL_PLUGIN_DIR})
target_link_options(kavel_module PRIVATE -Wl,--no-undefined)

# plugin-host.exe: the same host as on Linux, loading modules with LoadLibrary and writing
# PGM/PPM files.
add_executable(plugin-host
  host/plugin_host/host_session.cpp
  host/plugin_host/main.cpp
  host/plugin_host/module_catalogue.cpp
  host/plugin_host/module_loader_win32.cpp
  host/plugin_host/pnm_output.cpp
  host/plugin_host/property_list_reader.cpp
  host/plugin_host/property_list_source_pe.cpp
)
target_include_directories(plugin-host PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(plugin-host PRIVATE KAVEL_DEFAULT_PLUGIN_DIR="plugins")
add_dependencies(plugin-host kavel_module)
