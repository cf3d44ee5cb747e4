# Windows-only parts of the build, included when cross-compiling with
# cmake/mingw-i686.cmake (or building on Windows).
#
# kvrac_f.dll exports PLADI by name and as ordinal 1 through its module definition
# file (the undecorated name a drawing host looks up), and carries the dialog
# resources. kvrac.exe does not link against the DLL: it loads it at run time, as a
# drawing host does, so the two meet only through PLADI and the descriptor.

target_sources(kvrac_f PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/kvrac_f.def)

# kvrac.exe reads PNG images with its own decoder on zlib (Debian: libz-mingw-w64-dev),
# linked in statically so the program needs no zlib DLL.
set(ZLIB_USE_STATIC_LIBS ON)

# The dialog resources are written from the dialog templates (src/ui/dialog_templates)
# by a small program built with the build machine's own compiler, so the resource
# script and the templates the dialog procedures use can never disagree.
if(EXISTS ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp)
    enable_language(RC)
    find_program(KVRAC_BUILD_CXX NAMES c++ g++ REQUIRED)
    set(KVRAC_RESOURCE_DIR ${CMAKE_BINARY_DIR}/resources)
    set(KVRAC_RESOURCE_TOOL ${KVRAC_RESOURCE_DIR}/resource_script)
    add_custom_command(
        OUTPUT ${KVRAC_RESOURCE_DIR}/kvrac_f.rc
        COMMAND ${CMAKE_COMMAND} -E make_directory ${KVRAC_RESOURCE_DIR}
        COMMAND ${KVRAC_BUILD_CXX} -std=c++20 -I${PROJECT_SOURCE_DIR}/src
                ${PROJECT_SOURCE_DIR}/cmake/resource_script.cpp
                ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp -o ${KVRAC_RESOURCE_TOOL}
        COMMAND ${KVRAC_RESOURCE_TOOL} ${KVRAC_RESOURCE_DIR}
        DEPENDS ${PROJECT_SOURCE_DIR}/cmake/resource_script.cpp
                ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp
                ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.h
                ${PROJECT_SOURCE_DIR}/src/platform/dialog_controls.h
        COMMENT "Writing the dialog resources from the templates"
        VERBATIM)
    target_sources(kvrac_f PRIVATE ${KVRAC_RESOURCE_DIR}/kvrac_f.rc)
    set_property(SOURCE ${KVRAC_RESOURCE_DIR}/kvrac_f.rc APPEND PROPERTY
        COMPILE_OPTIONS -I${KVRAC_RESOURCE_DIR})
endif()

# The entry is declared for export in the source as well; --kill-at keeps its decorated
# twin (PLADI@8) out of the table, so the table holds PLADI alone, at ordinal 1.
target_link_options(kvrac_f PRIVATE -Wl,--kill-at)
target_link_libraries(kvrac_f PRIVATE user32 gdi32 kernel32)

# Makes the host library of kvrac.exe: the pure data modules the host reads for
# `show`, `formats` and `about` (device tables, stored-record layout, dialog templates)
# are compiled in, the driver itself is only loaded. Compiling them in is simpler than
# reading the same rows back out of the descriptor by offset, and as exact: it is the
# same source that builds the descriptor.
function(kvrac_windows_host target)
    target_sources(${target} PRIVATE
        ${PROJECT_SOURCE_DIR}/src/host/device_tables.cpp
        ${PROJECT_SOURCE_DIR}/src/host/settings_record.cpp
        ${PROJECT_SOURCE_DIR}/src/platform/host_address.cpp)
    if(EXISTS ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp)
    endif()
    add_dependencies(${target} kvrac_f)
endfunction()

# Programs that drive the Windows build from inside Wine (tests/windows/tools).
file(GLOB KVRAC_WINDOWS_TOOLS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/windows/tools/*.cpp)
foreach(src ${KVRAC_WINDOWS_TOOLS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/app)
    target_link_libraries(${name} PRIVATE user32 gdi32)
    if(EXISTS ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src/ui/dialog_templates.cpp)
    endif()
    add_dependencies(${name} kvrac_f kvrac)
endforeach()
