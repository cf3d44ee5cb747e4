# The printer's settings page in a real browser: headless chromium driven by selenium
# (Debian's chromium, chromium-driver and python3-selenium) against a kvrac-printer
# started by the test. Screenshots land in test-artifacts/settings-page of the build
# tree. The test skips (status 77) where chromium or selenium is missing.
if(WIN32 OR NOT KVRAC_TESTS OR NOT TARGET kvrac-printer)
    return()
endif()
# Debian's python3, where python3-selenium is installed (a python3 earlier in PATH,
# from pyenv say, would not see it).
find_program(KVRAC_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT KVRAC_DEBIAN_PYTHON)
    find_program(KVRAC_DEBIAN_PYTHON python3)
endif()
if(NOT KVRAC_DEBIAN_PYTHON)
    return()
endif()
add_test(NAME printer_settings_page_browser
         COMMAND ${KVRAC_DEBIAN_PYTHON}
                 ${PROJECT_SOURCE_DIR}/tests/app/kvrac-printer/settings_page_browser.py
                 $<TARGET_FILE:kvrac-printer> ${CMAKE_BINARY_DIR}/test-artifacts/settings-page)
set_tests_properties(printer_settings_page_browser PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "printer;browser")
