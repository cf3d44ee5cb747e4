# The fuzz build (KVRAC_FUZZ=ON, with clang): every source of the tree is compiled with
# libFuzzer's coverage and AddressSanitizer + UndefinedBehaviorSanitizer, and each
# fuzz/fuzz_<name>.cpp becomes the program fuzz_<name> linked with kvrac_app (and so
# every lib/ library and the driver). scripts/fuzz.sh configures, builds and runs them.
option(KVRAC_FUZZ "Build the libFuzzer targets of fuzz/ (needs clang)" OFF)
if(KVRAC_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KVRAC_FUZZ needs clang: configure with CXX=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined -g)
    add_link_options(-fsanitize=address,undefined)

    # The targets are made once every library of the tree exists.
    function(kvrac_fuzz_targets)
        file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/fuzz_*.cpp)
        foreach(src ${sources})
            get_filename_component(name ${src} NAME_WE)
            add_executable(${name} ${src})
            target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests
                                                       ${PROJECT_SOURCE_DIR}/fuzz)
            target_link_libraries(${name} PRIVATE kvrac_app)
            target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        endforeach()
    endfunction()
    cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kvrac_fuzz_targets)
endif()
