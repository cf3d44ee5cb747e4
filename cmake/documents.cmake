# Tests and benchmark tools of documents (PDF pages, image files plotted as they stand):
# the tests draw their PDF pages with cairo's PDF surface, independently of poppler.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(KVRAC_CAIRO QUIET IMPORTED_TARGET cairo)
endif()
if(KVRAC_CAIRO_FOUND AND NOT WIN32)
    foreach(test test_lib_pdf test_app_kvrac test_app_kvrac-printer)
        if(TARGET ${test})
            target_link_libraries(${test} PRIVATE PkgConfig::KVRAC_CAIRO)
            target_compile_definitions(${test} PRIVATE KVRAC_HAVE_CAIRO=1)
        endif()
    endforeach()
    # The benchmark's drawing: an A0 sheet of a CAD drawing (bench/pdf_e2e.sh).
    add_executable(make_cad_pdf EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/pdf/make_cad_pdf.cpp)
    target_link_libraries(make_cad_pdf PRIVATE PkgConfig::KVRAC_CAIRO)
endif()
