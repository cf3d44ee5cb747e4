# The Windows programs, tested from the Linux build under Wine.
#
# The test windows_build builds them in ${CMAKE_BINARY_DIR}/windows (a separate,
# cross-compiled build of the same sources) and prepares the Wine prefix there; every
# test of test_windows and the dialog test need it first. Needs the packages of
# scripts/install-windows-deps.sh.
set(KVRAC_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)

add_test(NAME windows_build
         COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/build-windows.sh ${KVRAC_WINDOWS_DIR})
set_tests_properties(windows_build PROPERTIES FIXTURES_SETUP windows_build TIMEOUT 1200)

target_compile_definitions(test_windows PRIVATE
    KVRAC_WINDOWS_DIR="${KVRAC_WINDOWS_DIR}")

# The real dialogs, driven by an automated user under Xvfb; screenshots land in
# ${KVRAC_WINDOWS_DIR}/screenshots.
add_test(NAME windows_dialogs
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows/dialogs.sh ${KVRAC_WINDOWS_DIR})
set_tests_properties(windows_dialogs PROPERTIES FIXTURES_REQUIRED windows_build RESOURCE_LOCK wine
                                                 TIMEOUT 600)
