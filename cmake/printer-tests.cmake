# The printer application's tests (tests/app/kvrac-printer) and benchmark
# (bench/printer_e2e.sh) write PWG raster pages with libcups' raster writer, and drive
# the kvrac-printer program with ipptool and cupsd.
if(WIN32)
    return()
endif()
find_package(Cups)
if(NOT Cups_FOUND OR NOT PNG_FOUND)
    return()
endif()

# printer_page: writes a test page as PWG raster and as the PNG of the same pixels.
add_executable(printer_page ${PROJECT_SOURCE_DIR}/bench/printer_page/printer_page.cpp)
target_include_directories(printer_page PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(printer_page PRIVATE Cups::Cups PNG::PNG)

# The tests' page writer links libcups (the program's path comes from
# printer-app-tests.cmake).
if(TARGET test_app_kvrac-printer)
    target_link_libraries(test_app_kvrac-printer PRIVATE Cups::Cups)
endif()

# JPEG documents are written and decoded with libjpeg.
find_package(JPEG)
if(TARGET test_app_kvrac-printer AND JPEG_FOUND)
    target_link_libraries(test_app_kvrac-printer PRIVATE JPEG::JPEG)
    target_compile_definitions(test_app_kvrac-printer PRIVATE KVRAC_HAVE_JPEG=1)
endif()
