# Tests of kvrac-printer (tests/app/kvrac-printer): they start the program itself, so
# they know its path and build it first, and they test its page spool directly.
if(TARGET test_app_kvrac-printer AND TARGET kvrac-printer)
    target_compile_definitions(test_app_kvrac-printer PRIVATE
        KVRAC_PRINTER_BINARY="$<TARGET_FILE:kvrac-printer>")
    target_sources(test_app_kvrac-printer PRIVATE
        ${PROJECT_SOURCE_DIR}/app/kvrac-printer/page_spool.cpp
        ${PROJECT_SOURCE_DIR}/app/kvrac-printer/page_source.cpp)
    add_dependencies(test_app_kvrac-printer kvrac-printer)
endif()
